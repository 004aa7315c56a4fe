// REGEDIT4 text in memory: what each line means, what a rewrite keeps, what cannot be read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/linux/reg_text.h"

namespace {

using namespace platform::regtext;

const std::vector<std::string> Key = {"HKEY_LOCAL_MACHINE", "Software", "Test"};

std::vector<uint8_t> bytes(const std::string& s, bool zero = false)
{
    std::vector<uint8_t> b(s.begin(), s.end());
    if (zero) {
        b.push_back(0);
    }
    return b;
}

struct ValueCase {
    const char* line;
    const char* name;
    uint32_t type;
    std::vector<uint8_t> data;
};

TEST(RegText, ReadsEveryValueKind)
{
    const ValueCase cases[] = {
        {"\"Text\"=\"hello\"", "Text", 1, bytes("hello", true)},
        {"@=\"default\"", "", 1, bytes("default", true)},
        {"\"Esc\"=\"C:\\\\dir\\\\ \\\"q\\\"\"", "Esc", 1, bytes("C:\\dir\\ \"q\"", true)},
        {"\"Empty\"=\"\"", "Empty", 1, {0}},
        {"\"Na\\\"me\"=\"x\"", "Na\"me", 1, bytes("x", true)},
        {"\"D\"=dword:0000001f", "D", 4, {0x1f, 0, 0, 0}},
        {"\"D2\"=dword:FFFFFFFE", "D2", 4, {0xfe, 0xff, 0xff, 0xff}},
        {"\"B\"=hex:01,02,ff", "B", 3, {1, 2, 0xff}},
        {"\"B0\"=hex:", "B0", 3, {}},
        {"\"E\"=hex(2):25,00", "E", 2, {0x25, 0}},
        {"\"M\"=hex(7):61,00,00", "M", 7, {0x61, 0, 0}},
        {"\"N\"=hex(0):", "N", 0, {}},
        {"\"Big\"=hex(100000):07", "Big", 0x100000, {7}},
        {"\"Sp\" = \"spaced\"  ", "Sp", 1, bytes("spaced", true)},
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.line);
        Document doc = parse(std::string("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n") + c.line + "\r\n");
        ASSERT_TRUE(doc.unreadable.empty());
        const Value* v = findValue(doc, Key, c.name);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->type, c.type);
        EXPECT_EQ(v->data, c.data);
    }
}

TEST(RegText, UnreadableLinesAreReportedAndTheRestIsRead)
{
    const char* bad[] = {
        "\"Open\"=\"no end",
        "\"Esc\"=\"C:\\Windows\"",  // a lone backslash: REGEDIT4 escapes every one
        "\"D\"=dword:123456789",
        "\"D\"=dword:xyz",
        "\"H\"=hex:1,,2",
        "\"H\"=hex:100",
        "\"H\"=hex(zz):01",
        "\"Del\"=-",
        "Name=\"no quotes\"",
        "[-HKEY_LOCAL_MACHINE\\Software\\Gone]",
        "[HKEY_LOCAL_MACHINE\\\\Double]",
        "[HKEY_LOCAL_MACHINE\\Open",
        "\"T\"=\"x\" trailing",
    };
    for (const char* line : bad) {
        SCOPED_TRACE(line);
        Document doc = parse(std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Test]\n\"Before\"=\"1\"\n") +
                             line + "\n\"After\"=\"2\"\n");
        ASSERT_EQ(doc.unreadable.size(), std::string(line).front() == '[' ? 2u : 1u);
        EXPECT_EQ(doc.unreadable[0].lineNumber, 5u);
        EXPECT_EQ(doc.unreadable[0].text, line);
        EXPECT_NE(findValue(doc, Key, "Before"), nullptr);
    }
    EXPECT_EQ(parse("Windows Registry Editor Version 5.00\r\n").unreadable.size(), 1u);
    EXPECT_EQ(parse("REGEDIT4\n\"Outside\"=\"any key\"\n").unreadable.size(), 1u);
    EXPECT_EQ(parse(std::string("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"Z\"=\"a\0b\"\n", 36)).unreadable.size(), 1u);
    // A continued value that never ends.
    Document cut = parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"H\"=hex:01,\\\n");
    ASSERT_EQ(cut.unreadable.size(), 1u);
    EXPECT_EQ(cut.unreadable[0].lineNumber, 3u);
}

TEST(RegText, ContinuationLinesJoinHexData)
{
    Document doc = parse("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Test]\n"
                         "\"Long\"=hex(7):41,00,\\\n    42,00,\\\n\t43,00,00\n\"Next\"=dword:00000001\n");
    ASSERT_TRUE(doc.unreadable.empty());
    EXPECT_EQ(findValue(doc, Key, "Long")->data, (std::vector<uint8_t>{0x41, 0, 0x42, 0, 0x43, 0, 0}));
    EXPECT_NE(findValue(doc, Key, "Next"), nullptr);
}

TEST(RegText, RewriteKeepsCommentsSpellingAndLineEnds)
{
    const std::string crlf =
        "REGEDIT4\r\n; made by hand\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n; the text\r\n"
        "\"Text\" = \"kept as written\"\r\n\"Bin\"=hex:01,\\\r\n  02\r\n\r\n";
    EXPECT_EQ(write(parse(crlf)), crlf);
    std::string lf = crlf;
    for (size_t at; (at = lf.find('\r')) != std::string::npos;) {
        lf.erase(at, 1);
    }
    EXPECT_EQ(write(parse(lf)), lf);

    // A change rewrites only its own line.
    Document doc = parse(lf);
    setValue(doc, Key, Value{"TEXT", 1, bytes("new", true)});
    setValue(doc, Key, Value{"Added", 4, {1, 0, 0, 0}});
    EXPECT_EQ(write(doc),
              "REGEDIT4\n; made by hand\n\n[HKEY_LOCAL_MACHINE\\Software\\Test]\n; the text\n"
              "\"Text\"=\"new\"\n\"Bin\"=hex:01,\\\n  02\n\"Added\"=dword:00000001\n\n");
}

TEST(RegText, EverySpelledValueReadsBackTheSame)
{
    std::vector<uint8_t> longData;
    for (int i = 0; i < 300; ++i) {
        longData.push_back(static_cast<uint8_t>(i * 7));
    }
    const Value values[] = {
        {"", 1, bytes("default", true)},
        {"Quote\"and\\slash", 1, bytes("a\\b\"c", true)},
        {"NoZero", 1, bytes("abc")},               // text without its zero: hex(1)
        {"Inner", 1, bytes(std::string("a\0b", 3), true)},
        {"Break", 1, bytes("two\r\nlines", true)},
        {"Dword", 4, {0x78, 0x56, 0x34, 0x12}},
        {"ShortDword", 4, {1, 2}},
        {"Binary", 3, longData},
        {"Empty", 3, {}},
        {"Expand", 2, bytes("%WINDIR%", true)},
        {"Multi", 7, bytes(std::string("a\0b\0", 4), true)},
        {"None", 0, {}},
        {"Odd", 0xabcdef, {9}},
    };
    Document doc;
    for (const Value& v : values) {
        setValue(doc, Key, v);
    }
    std::string text = write(doc);
    Document back = parse(text);
    ASSERT_TRUE(back.unreadable.empty()) << back.unreadable[0].text;
    for (const Value& v : values) {
        SCOPED_TRACE(v.name);
        const Value* got = findValue(back, Key, v.name);
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(got->name, v.name);
        EXPECT_EQ(got->type, v.type);
        EXPECT_EQ(got->data, v.data);
    }
    EXPECT_EQ(text.substr(0, 12), "REGEDIT4\r\n\r\n");  // a new file is written as regedit does
    for (size_t at = 0, next; (next = text.find("\r\n", at)) != std::string::npos; at = next + 2) {
        EXPECT_LE(next - at, 80u) << "line too long";
    }
}

TEST(RegText, KeysAreMatchedWithoutCaseAndKeepTheirCase)
{
    Document doc = parse("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_1&PID_2\\Serial1]\n\"Driver\"=\"X\"\n\n"
                         "[hkey_local_machine\\enum\\usb\\vid_1&pid_2\\Serial2]\n\n"
                         "[HKEY_LOCAL_MACHINE\\ENUM\\USB\\VID_1&PID_2\\SERIAL1\\Child]\n");
    std::vector<std::string> usb = {"HKEY_LOCAL_MACHINE", "enum", "Usb", "VID_1&pid_2"};
    EXPECT_TRUE(keyExists(doc, usb));  // implied by its subkeys' headers
    EXPECT_EQ(subkeyNames(doc, usb), (std::vector<std::string>{"Serial1", "Serial2"}));
    usb.push_back("serial1");
    EXPECT_EQ(findValue(doc, usb, "DRIVER")->name, "Driver");
    EXPECT_FALSE(keyExists(doc, {"HKEY_LOCAL_MACHINE", "Enum", "PCI"}));
}

TEST(RegText, DeletingAKeyTakesItsSubtreeAndKeepsItsParent)
{
    Document doc = parse("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"v\"=\"1\"\n\n[HKEY_LOCAL_MACHINE\\A\\B\\C\\D]\n\n"
                         "[HKEY_LOCAL_MACHINE\\A\\Bx]\n\"w\"=\"2\"\n\n");
    EXPECT_TRUE(deleteKey(doc, {"HKEY_LOCAL_MACHINE", "a", "b", "c"}));
    EXPECT_FALSE(keyExists(doc, {"HKEY_LOCAL_MACHINE", "A", "B", "C", "D"}));
    EXPECT_TRUE(keyExists(doc, {"HKEY_LOCAL_MACHINE", "A", "B"}));  // was only implied
    EXPECT_NE(findValue(doc, {"HKEY_LOCAL_MACHINE", "A", "Bx"}, "w"), nullptr);
    EXPECT_FALSE(deleteKey(doc, {"HKEY_LOCAL_MACHINE", "A", "B", "C"}));
    Document back = parse(write(doc));
    EXPECT_TRUE(keyExists(back, {"HKEY_LOCAL_MACHINE", "A", "B"}));
    EXPECT_FALSE(keyExists(back, {"HKEY_LOCAL_MACHINE", "A", "B", "C"}));
}

TEST(RegText, NewKeysGoBelowTheirParentInTreeOrder)
{
    Document doc = parse("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\n[HKEY_LOCAL_MACHINE\\A\\One]\n\n[HKEY_LOCAL_MACHINE\\Z]\n\n");
    createKey(doc, {"HKEY_LOCAL_MACHINE", "A", "Two", "Deep"});
    EXPECT_EQ(write(doc), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\n[HKEY_LOCAL_MACHINE\\A\\One]\n\n"
                          "[HKEY_LOCAL_MACHINE\\A\\Two]\n\n[HKEY_LOCAL_MACHINE\\A\\Two\\Deep]\n\n[HKEY_LOCAL_MACHINE\\Z]\n\n");
}

TEST(RegText, ATextNotBeginningWithTheHeaderHoldsNoKeys)
{
    for (const char* text : {"REGEDIT\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"V\"=\"1\"\r\n",
                             "[HKEY_LOCAL_MACHINE\\A]\r\n\"V\"=\"1\"\r\n", "Windows Registry Editor Version 5.00\r\n"}) {
        Document doc = parse(text);
        EXPECT_TRUE(doc.notRegedit4) << text;
        EXPECT_TRUE(doc.sections.empty()) << text;
        ASSERT_EQ(doc.unreadable.size(), 1u) << text;
        EXPECT_EQ(doc.unreadable[0].lineNumber, 1u);
    }
    EXPECT_FALSE(parse("REGEDIT4\r\n").notRegedit4);
}

// The index answers as the document does: every key above a section, subkeys once each in the
// order they first appear (whatever their case), a value's last setting across repeated headers.
TEST(RegText, TheKeyIndexAgreesWithTheDocument)
{
    Document doc = parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B\\One]\n\"V\"=\"1\"\n[HKEY_LOCAL_MACHINE\\A\\b\\two]\n"
                         "[HKEY_LOCAL_MACHINE\\Z]\n[HKEY_LOCAL_MACHINE\\a\\B\\ONE]\n\"v\"=\"2\"\n[HKEY_LOCAL_MACHINE\\A\\C]\n");
    KeyIndex index = indexKeys(doc);
    const std::vector<std::vector<std::string>> paths = {
        {"HKEY_LOCAL_MACHINE"}, {"HKEY_LOCAL_MACHINE", "A"}, {"HKEY_LOCAL_MACHINE", "a", "b"},
        {"HKEY_LOCAL_MACHINE", "A", "B", "One"}, {"HKEY_LOCAL_MACHINE", "A", "B", "Two"},
        {"HKEY_LOCAL_MACHINE", "A", "C"}, {"HKEY_LOCAL_MACHINE", "Missing"}, {"HKEY_LOCAL_MACHINE", "A", "B", "One", "X"}};
    for (const auto& path : paths) {
        SCOPED_TRACE(foldedPath(path));
        const KeyIndex::Entry* entry = findKey(index, path);
        EXPECT_EQ(entry != nullptr, keyExists(doc, path));
        EXPECT_EQ(entry ? entry->subkeys : std::vector<std::string>{}, subkeyNames(doc, path));
        EXPECT_EQ(findValue(doc, index, path, "V"), findValue(doc, path, "V"));
    }
    EXPECT_EQ(findKey(index, {"HKEY_LOCAL_MACHINE"})->subkeys, (std::vector<std::string>{"A", "Z"}));
    EXPECT_EQ(findKey(index, {"HKEY_LOCAL_MACHINE", "A", "B"})->subkeys, (std::vector<std::string>{"One", "two"}));
    const Value* v = findValue(doc, index, {"HKEY_LOCAL_MACHINE", "A", "B", "One"}, "V");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->data, bytes("2", true));
}

}  // namespace
