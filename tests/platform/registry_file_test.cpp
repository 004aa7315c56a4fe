// The key store on $TARVO_HOST/registry.reg: Win32 results, the file as other processes see it,
// a file it cannot fully read, and writers at the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <cstring>
#include <fstream>
#include <iterator>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/registry.h"
#include "support/scratch.h"

namespace {

using namespace platform;

class RegistryFileTest : public ::testing::Test {
protected:
    scratch::TempDir host;
    scratch::ScopedEnv env{"TARVO_HOST", host.dir()};

    std::string storeText() const
    {
        std::ifstream in(host.file("registry.reg"), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static int32_t setText(RegKey key, const std::string& name, const std::string& text)
    {
        return regSetValueEx(key, name, RegTypeSz, reinterpret_cast<const uint8_t*>(text.c_str()),
                             static_cast<uint32_t>(text.size() + 1));
    }
    static std::string queryText(RegKey key, const std::string& name)
    {
        uint8_t buf[300] = {};
        uint32_t size = sizeof buf;
        return regQueryValueEx(key, name, nullptr, buf, &size) == RegOk ? std::string(reinterpret_cast<char*>(buf))
                                                                       : std::string("<none>");
    }
};

TEST_F(RegistryFileTest, QueryHonoursTheCallersBufferSize)
{
    RegKey key = 0;
    ASSERT_EQ(regCreateKeyEx(HkeyLocalMachine, "Enum\\USB\\Dev", &key), RegOk);
    ASSERT_EQ(setText(key, "Driver", "MODEM\\0003"), RegOk);  // 11 bytes with the zero

    uint8_t buf[16];
    std::memset(buf, 0xAA, sizeof buf);
    uint32_t type = 0;
    uint32_t size = 10;
    EXPECT_EQ(regQueryValueEx(key, "driver", &type, buf, &size), RegMoreData);
    EXPECT_EQ(size, 11u);
    EXPECT_EQ(buf[0], 0xAA);  // nothing filled
    size = 11;
    EXPECT_EQ(regQueryValueEx(key, "DRIVER", &type, buf, &size), RegOk);
    EXPECT_EQ(type, RegTypeSz);
    EXPECT_STREQ(reinterpret_cast<char*>(buf), "MODEM\\0003");
    size = 0;
    EXPECT_EQ(regQueryValueEx(key, "Driver", nullptr, nullptr, &size), RegOk);
    EXPECT_EQ(size, 11u);
    EXPECT_EQ(regQueryValueEx(key, "Missing", nullptr, buf, &size), RegNotFound);
    EXPECT_EQ(regDeleteValue(key, "driver"), RegOk);
    EXPECT_EQ(regDeleteValue(key, "driver"), RegNotFound);
    EXPECT_EQ(regCloseKey(key), RegOk);
    EXPECT_EQ(regCloseKey(key), RegInvalidHandle);
    EXPECT_EQ(regQueryValueEx(key, "Driver", nullptr, buf, &size), RegInvalidHandle);
}

TEST_F(RegistryFileTest, OpenEnumerateAndDeleteWithTheSubtree)
{
    RegKey key = 0;
    EXPECT_EQ(regOpenKeyEx(HkeyLocalMachine, "Enum\\USB", &key), RegNotFound);
    RegKey dev = 0;
    ASSERT_EQ(regCreateKeyEx(HkeyLocalMachine, "Enum\\USB\\VID_4E2C&PID_7A01\\Instance1\\Child", &dev), RegOk);
    ASSERT_EQ(setText(dev, "", "default"), RegOk);
    RegKey other = 0;
    ASSERT_EQ(regCreateKeyEx(HkeyLocalMachine, "enum\\usb\\vid_4e2c&pid_7a01\\ALongerInstanceName", &other), RegOk);

    ASSERT_EQ(regOpenKeyEx(HkeyLocalMachine, "ENUM\\usb\\VID_4E2C&PID_7A01", &key), RegOk);
    char name[300];
    uint32_t chars = sizeof name;
    ASSERT_EQ(regEnumKeyEx(key, 0, name, &chars), RegOk);
    EXPECT_STREQ(name, "Instance1");
    EXPECT_EQ(chars, 9u);
    chars = 10;  // the name and its zero fit exactly
    EXPECT_EQ(regEnumKeyEx(key, 0, name, &chars), RegOk);
    chars = 9;
    EXPECT_EQ(regEnumKeyEx(key, 1, name, &chars), RegMoreData);
    chars = sizeof name;
    EXPECT_EQ(regEnumKeyEx(key, 2, name, &chars), RegNoMoreItems);

    EXPECT_EQ(regDeleteKey(key, "INSTANCE1"), RegOk);
    EXPECT_EQ(queryText(dev, ""), "<none>");
    EXPECT_EQ(setText(dev, "x", "y"), RegKeyDeleted);  // a handle to a removed key changes nothing
    EXPECT_EQ(regDeleteKey(key, "Instance1"), RegNotFound);
    chars = sizeof name;
    ASSERT_EQ(regEnumKeyEx(key, 0, name, &chars), RegOk);
    EXPECT_STREQ(name, "ALongerInstanceName");
    EXPECT_EQ(storeText().find("Child"), std::string::npos);
    for (RegKey k : {key, dev, other}) {
        regCloseKey(k);
    }
}

TEST_F(RegistryFileTest, AFileWithAnUnreadableLineIsNeverRewritten)
{
    const std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\USB\\Dev]\r\n\"Driver\"=\"MODEM\\\\0003\"\r\n"
                             "\"Serial\"=hex:01,02,\\\r\n  03\r\n\"Broken\"=\"C:\\Windows\"\r\n\r\n";
    host.write("registry.reg", text);
    RegKey key = 0;
    ASSERT_EQ(regOpenKeyEx(HkeyLocalMachine, "Enum\\USB\\Dev", &key), RegOk);
    EXPECT_EQ(queryText(key, "Driver"), "MODEM\\0003");  // what can be read is read
    EXPECT_EQ(setText(key, "Driver", "other"), RegAccessDenied);
    EXPECT_EQ(regDeleteValue(key, "Driver"), RegAccessDenied);
    EXPECT_EQ(regDeleteKey(HkeyLocalMachine, "Enum"), RegAccessDenied);
    RegKey made = 0;
    EXPECT_EQ(regCreateKeyEx(HkeyLocalMachine, "Enum\\New", &made), RegAccessDenied);
    EXPECT_EQ(regCreateKeyEx(HkeyLocalMachine, "Enum\\USB", &made), RegOk);  // exists: no change needed
    EXPECT_EQ(storeText(), text);

    std::string notice = regUnreadableNotice();
    EXPECT_NE(notice.find(host.file("registry.reg") + ": line 7"), std::string::npos) << notice;
    EXPECT_NE(notice.find("C:\\Windows"), std::string::npos);
    EXPECT_EQ(regUnreadableNotice(), "");  // said once
    EXPECT_FALSE(regStoreWritable());
    regCloseKey(key);
    regCloseKey(made);
}

TEST_F(RegistryFileTest, TheNoticeQuotesAtMost80CharactersEscaped)
{
    const std::string line = "\"Bad\x1b]0;title\x07\"" + std::string(200, 'x');
    host.write("registry.reg", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n" + line + "\r\n");
    const std::string notice = regUnreadableNotice();
    EXPECT_NE(notice.find("(\"Bad\\x1b]0;title\\x07\"xxx"), std::string::npos) << notice;
    EXPECT_EQ(notice.find('\x1b'), std::string::npos);
    EXPECT_NE(notice.find(std::string(80 - 15, 'x') + "...)"), std::string::npos) << notice;  // 15 before
    EXPECT_EQ(notice.find(std::string(80 - 14, 'x')), std::string::npos) << notice;
}

// A file that is no store at all: reads see no key, writes fail, the file stays as it is, and
// the notice says why. None of them blocks or reads without end.
TEST_F(RegistryFileTest, AFileThatIsNoStoreIsNeitherReadNorRewritten)
{
    const std::string file = host.file("registry.reg");
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* said;  // null: the same reason as the case before, said once per file
    };
    const Case cases[] = {
        {"empty (a save in place, between truncating and writing)", [&] { host.write("registry.reg", ""); },
         "the file is empty, not a REGEDIT4 file"},
        {"another first line", [&] { host.write("registry.reg", "REGEDIT\r\n[HKEY_LOCAL_MACHINE\\A]\r\n"); },
         "it does not begin as a REGEDIT4 file: line 1 is \"REGEDIT\""},
        {"a FIFO", [&] { ASSERT_EQ(mkfifo(file.c_str(), 0644), 0); }, "it is not a regular file"},
        {"a link to an endless device", [&] { ASSERT_EQ(symlink("/dev/zero", file.c_str()), 0); }, nullptr},
        {"larger than 64 MiB", [&] {
             host.write("registry.reg", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n");
             ASSERT_EQ(truncate(file.c_str(), 64 * 1024 * 1024 + 1), 0);  // sparse: costs no disk
         }, "it is larger than 64 MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(file.c_str());
        c.make();
        struct stat before {};
        ASSERT_EQ(lstat(file.c_str(), &before), 0);
        RegKey key = 0;
        EXPECT_EQ(regOpenKeyEx(HkeyLocalMachine, "A", &key), RegNotFound);
        EXPECT_EQ(regCreateKeyEx(HkeyLocalMachine, "B", &key), RegAccessDenied);
        EXPECT_EQ(setText(HkeyLocalMachine, "V", "x"), RegAccessDenied);
        EXPECT_FALSE(regStoreWritable());
        struct stat after {};
        ASSERT_EQ(lstat(file.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_size, before.st_size);
        const std::string notice = regUnreadableNotice();
        if (c.said) {
            EXPECT_NE(notice.find(file + " is not used as the key store (" + c.said + ")"), std::string::npos) << notice;
        } else {
            EXPECT_EQ(notice, "");
        }
    }
}

TEST_F(RegistryFileTest, NamesTheFileCannotHoldAreRefused)
{
    RegKey key = 0;
    ASSERT_EQ(regCreateKeyEx(HkeyLocalMachine, "Enum", &key), RegOk);
    const std::string text = storeText();
    EXPECT_EQ(setText(key, "Two\nLines", "x"), RegInvalidParameter);
    EXPECT_EQ(setText(key, "Cr\r", "x"), RegInvalidParameter);
    RegKey made = 0;
    EXPECT_EQ(regCreateKeyEx(key, "Bad\nKey", &made), RegInvalidParameter);
    EXPECT_EQ(regCreateKeyEx(key, "Bad]Key", &made), RegInvalidParameter);
    EXPECT_EQ(storeText(), text);
    EXPECT_EQ(setText(key, "Fine", "a\nb"), RegOk);  // data may hold one: it is written as hex
    EXPECT_EQ(queryText(key, "Fine"), "a\nb");
    regCloseKey(key);
}

TEST_F(RegistryFileTest, TheLockFileIsNeverFollowedAsALink)
{
    scratch::TempDir elsewhere;
    ASSERT_EQ(symlink(elsewhere.file("planted").c_str(), host.file("registry.reg.lock").c_str()), 0);
    RegKey key = 0;
    EXPECT_EQ(regCreateKeyEx(HkeyLocalMachine, "Enum", &key), RegAccessDenied);
    EXPECT_FALSE(std::ifstream(elsewhere.file("planted")).good());
}

TEST_F(RegistryFileTest, AWriterRemovesOnlyOldTemporariesOfItsOwnKind)
{
    RegKey key = 0;
    ASSERT_EQ(regCreateKeyEx(HkeyLocalMachine, "Enum", &key), RegOk);
    const timespec hourAgo[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    for (const char* name : {"registry.reg.Ab3xYz", "registry.reg.young1", "registry.reg.notmine",
                             "registry.reg.bak", "other.reg.Ab3xYz"}) {
        host.write(name, "x");
        if (std::string(name) != "registry.reg.young1") {
            ASSERT_EQ(utimensat(AT_FDCWD, host.file(name).c_str(), hourAgo, 0), 0);
        }
    }
    ASSERT_EQ(symlink(host.file("other.reg.Ab3xYz").c_str(), host.file("registry.reg.Link00").c_str()), 0);
    ASSERT_EQ(setText(key, "V", "1"), RegOk);
    auto present = [&](const char* name) {
        struct stat st {};
        return lstat(host.file(name).c_str(), &st) == 0;
    };
    EXPECT_FALSE(present("registry.reg.Ab3xYz"));  // a killed writer's, an hour old
    EXPECT_TRUE(present("registry.reg.young1"));   // may be a live writer's elsewhere
    EXPECT_TRUE(present("registry.reg.notmine"));  // not the writer's pattern
    EXPECT_TRUE(present("registry.reg.bak"));
    EXPECT_TRUE(present("other.reg.Ab3xYz"));
    EXPECT_TRUE(present("registry.reg.Link00"));  // a link is nothing a writer made
    regCloseKey(key);
}

TEST_F(RegistryFileTest, EveryCallSeesAChangeMadeMeanwhileByAnotherProcess)
{
    RegKey key = 0;
    ASSERT_EQ(regCreateKeyEx(HkeyLocalMachine, "Enum\\Shared", &key), RegOk);
    ASSERT_EQ(setText(key, "Mine", "1"), RegOk);
    pid_t child = fork();
    if (child == 0) {
        RegKey k = 0;
        bool ok = regOpenKeyEx(HkeyLocalMachine, "Enum\\Shared", &k) == RegOk && setText(k, "Theirs", "2") == RegOk;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(queryText(key, "Theirs"), "2");
    ASSERT_EQ(setText(key, "Mine", "3"), RegOk);  // our change keeps theirs
    EXPECT_EQ(queryText(key, "Theirs"), "2");
    EXPECT_EQ(queryText(key, "Mine"), "3");
    regCloseKey(key);
}

TEST_F(RegistryFileTest, WritersAtOnceLoseNothingAndReadersNeverSeeHalfAFile)
{
    constexpr int Threads = 3;
    constexpr int Processes = 2;
    constexpr int ValuesEach = 20;
    RegKey key = 0;
    ASSERT_EQ(regCreateKeyEx(HkeyLocalMachine, "Load", &key), RegOk);
    ASSERT_EQ(setText(key, "Anchor", "here"), RegOk);

    auto writeMany = [](const std::string& who) {
        RegKey k = 0;
        int failures = regOpenKeyEx(HkeyLocalMachine, "Load", &k) == RegOk ? 0 : 1;
        for (int i = 0; i < ValuesEach; ++i) {
            failures += setText(k, who + "-" + std::to_string(i), who) == RegOk ? 0 : 1;
        }
        regCloseKey(k);
        return failures;
    };
    std::vector<pid_t> children;
    for (int p = 0; p < Processes; ++p) {
        pid_t child = fork();
        if (child == 0) {
            _exit(writeMany("proc" + std::to_string(p)) == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    std::atomic<bool> writing{true};
    std::atomic<int> missedAnchor{0};
    std::thread reader([&] {
        while (writing) {
            missedAnchor += queryText(key, "Anchor") == "here" ? 0 : 1;
        }
    });
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int t = 0; t < Threads; ++t) {
        writers.emplace_back([&, t] { failures += writeMany("thread" + std::to_string(t)); });
    }
    for (std::thread& w : writers) {
        w.join();
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    writing = false;
    reader.join();

    EXPECT_EQ(failures, 0);
    EXPECT_EQ(missedAnchor, 0);
    int found = 0;
    for (const std::string who : {"thread0", "thread1", "thread2", "proc0", "proc1"}) {
        for (int i = 0; i < ValuesEach; ++i) {
            found += queryText(key, who + "-" + std::to_string(i)) == who ? 1 : 0;
        }
    }
    EXPECT_EQ(found, (Threads + Processes) * ValuesEach);
    regCloseKey(key);
}

// A person's save while another process writes in a loop: each round saves a store of many keys
// with the round's mark, then looks that the mark and every key are still there once the writer
// has written after it. The save in place truncates, pauses, then writes (what `>` and many
// editors do); the save by rename writes a copy and renames it over the store.
class PersonsSaveTest : public RegistryFileTest {
protected:
    static constexpr int Keys = 200;
    static constexpr int Rounds = 40;

    static std::string personsStore(int round)
    {
        // The writer's key as the person found it, its count not yet written after this save.
        std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Writer]\r\n\"Count\"=\"-1\"\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\Person]\r\n\"Round\"=\"" + std::to_string(round) + "\"\r\n";
        for (int k = 0; k < Keys; ++k) {
            text += "\r\n[HKEY_LOCAL_MACHINE\\Person\\Key" + std::to_string(k) + "]\r\n\"Value\"=\"kept\"\r\n";
        }
        return text;
    }
    pid_t startLoopingWriter()
    {
        pid_t child = fork();
        if (child == 0) {
            RegKey k = 0;
            while (regOpenKeyEx(HkeyLocalMachine, "Writer", &k) != RegOk) {
            }
            for (unsigned n = 0;; ++n) {
                setText(k, "Count", std::to_string(n));
            }
        }
        return child;
    }
    int writerCount() const
    {
        const std::string text = storeText();
        size_t at = text.find("\"Count\"=\"");
        return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 9);
    }
    void runRounds(const std::function<void(const std::string&)>& save)
    {
        host.write("registry.reg", personsStore(0));
        pid_t writer = startLoopingWriter();
        int lost = 0;
        for (int round = 1; round <= Rounds && lost == 0; ++round) {
            save(personsStore(round));
            // Until the writer has written after the save (or a moment has passed): its write
            // must hold the save.
            for (int wait = 0; wait < 400 && writerCount() < 0; ++wait) {
                usleep(250);
            }
            const std::string text = storeText();
            const bool kept = text.find("\"Round\"=\"" + std::to_string(round) + "\"") != std::string::npos &&
                              text.find("Key" + std::to_string(Keys - 1) + "]") != std::string::npos;
            lost += kept ? 0 : 1;
            EXPECT_TRUE(kept) << "round " << round << ":\n" << text.substr(0, 300);
        }
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        EXPECT_GE(writerCount(), 0) << "the writer wrote meanwhile";
    }
};

TEST_F(PersonsSaveTest, ASaveInPlaceIsNeverLostToALoopingWriter)
{
    runRounds([&](const std::string& text) {
        int fd = open(host.file("registry.reg").c_str(), O_WRONLY | O_TRUNC);
        ASSERT_GE(fd, 0);
        usleep(300);  // the moment an editor's save leaves the file empty
        ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
    });
}

TEST_F(PersonsSaveTest, ASaveByRenameIsNeverLostToALoopingWriter)
{
    runRounds([&](const std::string& text) {
        host.write("person.tmp", text);
        ASSERT_EQ(rename(host.file("person.tmp").c_str(), host.file("registry.reg").c_str()), 0);
    });
}

}  // namespace
