// Pieces of the command line that need no modem: what a terminal is shown.
#include <gtest/gtest.h>

#include <string>

#include "app/commands.h"

namespace {

TEST(CommandLine, ControlCharactersReachATerminalEscaped)
{
    struct Case {
        std::string text;
        std::string shown;
    };
    const Case cases[] = {
        {"Model_name=Nelta\n", "Model_name=Nelta\n"},
        {"Model_name=\x1b]2;pwned\x07\x1b[2J\n", "Model_name=\\x1b]2;pwned\\x07\\x1b[2J\n"},
        {"a\rb\tc\x7f\n", "a\\x0db\\x09c\\x7f\n"},
        {"C1 \xc2\x9b" "31m\n", "C1 \\xc2\\x9b31m\n"},  // CSI as a UTF-8 character
        {"caf\xc3\xa9 \xc2\xa0\n", "caf\xc3\xa9 \xc2\xa0\n"},  // other UTF-8 stays
    };
    for (const Case& c : cases) {
        EXPECT_EQ(terminalSafe(c.text), c.shown);
    }
}

}  // namespace
