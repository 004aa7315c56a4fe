// COM port names: the three readings of a name, one row per case.
#include "platform/com_port_name.h"

#include <gtest/gtest.h>

namespace {

struct NameCase {
    const char* text;
    int device;    // comPortNumber: a port the OS could have
    int argument;  // parsePortArgument: what a user typed on the command line
    int32_t loose; // portNumberOf: digits after the first three characters
};

const NameCase NameCases[] = {
    {"COM3", 3, 3, 3},
    {"com3", 3, 3, 3},
    {"Com255", 255, 255, 255},
    {"COM12", 12, 12, 12},
    {"3", 0, 3, 0},
    {"255", 0, 255, 0},
    {"COM03", 0, 3, 3},  // no device has a leading zero; a user may type one
    {"003", 0, 3, 0},
    {"COM0", 0, 0, 0},
    {"0", 0, 0, 0},
    {"COM256", 0, 0, 256},
    {"COM", 0, 0, 0},
    {"", 0, 0, 0},
    {"COM3a", 0, 0, 3},
    {"COM3 ", 0, 0, 3},
    {"3a", 0, 0, 0},
    {"COMx", 0, 0, 0},
    {"COM-3", 0, 0, 0},
    {"LPT3", 0, 0, 3},
    {"COM99999999999", 0, 0, 0},  // past 31 bits
    {"99999999999", 0, 0, 99999999},  // the first three characters are skipped, whatever they are
    {"COM2147483647", 0, 0, 2147483647},
};

TEST(ComPortName, EveryReadingOfAName)
{
    for (const NameCase& c : NameCases) {
        EXPECT_EQ(platform::comPortNumber(c.text), c.device) << c.text;
        EXPECT_EQ(platform::parsePortArgument(c.text), c.argument) << c.text;
        EXPECT_EQ(platform::portNumberOf(c.text), c.loose) << c.text;
    }
}

TEST(ComPortName, NamesReadBackAsTheirNumber)
{
    EXPECT_EQ(platform::comPortName(1), "COM1");
    EXPECT_EQ(platform::comPortName(17), "COM17");
    for (int n = platform::FirstComPort; n <= platform::LastComPort; ++n) {
        ASSERT_EQ(platform::comPortNumber(platform::comPortName(n)), n);
    }
}

}  // namespace
