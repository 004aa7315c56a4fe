// Fuzz target for the REGEDIT4 reader of the key store: any bytes are read without fault, and
// for a text read without an unreadable line (the only kind the store ever rewrites):
// - writing it back and reading that again gives the same text (lines kept as they were);
// - with every value spelled anew by the writer, the text reads back to the same values;
// - removing a key and changing a value leave a text that still reads without a fault;
// - the key index answers every lookup as the document itself does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/linux/reg_text.h"

namespace {

using namespace platform::regtext;

void check(bool ok)
{
    if (!ok) {
        std::abort();
    }
}

bool sameValue(const Value* a, const Value* b)
{
    return a && b && a->type == b->type && a->data == b->data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Document doc = parse(std::string_view(reinterpret_cast<const char*>(data), size));
    KeyIndex index = indexKeys(doc);
    for (const Section& s : doc.sections) {
        const KeyIndex::Entry* entry = findKey(index, s.path);
        check(entry != nullptr && keyExists(doc, s.path));
        check(entry->subkeys == subkeyNames(doc, s.path));
        for (const Item& item : s.items) {
            if (item.isValue) {
                check(findValue(doc, index, s.path, item.value.name) == findValue(doc, s.path, item.value.name));
            }
        }
    }
    if (!doc.unreadable.empty()) {
        return 0;
    }

    std::string kept = write(doc);
    Document keptBack = parse(kept);
    check(keptBack.unreadable.empty());
    check(write(keptBack) == kept);

    Document spelled = doc;
    for (Section& s : spelled.sections) {
        for (Item& item : s.items) {
            if (item.isValue) {
                item.lines.clear();
            }
        }
    }
    Document spelledBack = parse(write(spelled));
    check(spelledBack.unreadable.empty());
    for (const Section& s : doc.sections) {
        for (const Item& item : s.items) {
            if (item.isValue) {
                check(sameValue(findValue(doc, s.path, item.value.name),
                                findValue(spelledBack, s.path, item.value.name)));
            }
        }
    }

    if (!doc.sections.empty()) {
        std::vector<std::string> path = doc.sections.front().path;
        setValue(doc, path, Value{"fuzz", 3, {1, 2, 3}});
        check(sameValue(findValue(parse(write(doc)), path, "fuzz"), findValue(doc, path, "fuzz")));
        deleteKey(doc, path);
        Document after = parse(write(doc));
        check(after.unreadable.empty());
        check(path.size() < 2 || !keyExists(after, path));
    }
    return 0;
}
