#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

#include "support/e2e_support.h"

namespace {

constexpr const char* DeliveryIni =
    "[INFO]\r\n"
    "Model_name=Nelta 56K USB\r\n"
    "ATI9_key_string=KOR\r\n"
    "ATI1_key_string=Nelta 56K\r\n";

// A silent port costs the unanswered wait for OK and the ATI9 window.
constexpr uint32_t SilentPortMs = 5200;
constexpr uint32_t SlackMs = 1500;

class ProbeE2eTest : public ::testing::Test {
protected:
    e2e::RunResult probe(const std::vector<std::string>& ports)
    {
        std::vector<std::string> args{"probe"};
        args.insert(args.end(), ports.begin(), ports.end());
        return e2e::run(delivery_.executable(), args, {{"TARVO_HOST", host_.path()}});
    }

    e2e::TempDir host_;
    e2e::Delivery delivery_{DeliveryIni};
};

TEST_F(ProbeE2eTest, ReportsEachPortInOrder)
{
    e2e::ModemSim normal(host_.path(), "COM3");
    e2e::ModemSim kernel(host_.path(), "COM4", {"--kernel"});
    e2e::ModemSim silent(host_.path(), "COM6", {"--silent"});
    ASSERT_TRUE(normal.ready() && kernel.ready() && silent.ready());

    e2e::RunResult result = probe({"COM3", "4", "5", "COM6"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "COM3 found normal 0x80000000\n"
              "COM4 found kernel 0xC0000000\n"
              "COM5 not-found\n"
              "COM6 not-found\n");
    EXPECT_GE(result.elapsedMs, SilentPortMs);
    EXPECT_LT(result.elapsedMs, SilentPortMs + SlackMs);

    // The ports were closed and the modems stay usable for the next run.
    result = probe({"3", "4"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "COM3 found normal 0x80000000\nCOM4 found kernel 0xC0000000\n");

    EXPECT_EQ(normal.stop(), 0);
    EXPECT_NE(access((host_.path() + "/ports/com3").c_str(), F_OK), 0) << "modemsim left its link behind";
}

TEST_F(ProbeE2eTest, NoModemAnywhereAndBadUsage)
{
    e2e::RunResult result = probe({"COM7"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "COM7 not-found\n");
    EXPECT_LT(result.elapsedMs, SlackMs);
    // With no port there at all, it says where ports come from.
    EXPECT_NE(result.err.find("COM7: no such port (it has no entry)\n"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(host_.path() + "/ports"), std::string::npos) << result.err;

    result = probe({"LPT1"});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
}

// stdout keeps its lines; stderr says why each port was not found; --json gives both at once.
TEST_F(ProbeE2eTest, SaysWhyAPortWasNotFound)
{
    e2e::ModemSim normal(host_.path(), "COM3");
    e2e::ModemSim other(host_.path(), "COM4", {"--ati1", "Acme 33.6 \"Voice\""});
    e2e::ModemSim silent(host_.path(), "COM6", {"--silent"});
    ASSERT_TRUE(normal.ready() && other.ready() && silent.ready());

    e2e::RunResult result = probe({"3", "4", "5", "6"});
    EXPECT_EQ(result.out, "COM3 found normal 0x80000000\nCOM4 not-found\nCOM5 not-found\nCOM6 not-found\n");
    EXPECT_EQ(result.err,
              "COM4: a modem of another product answered (ATI1: Acme 33.6 \"Voice\")\n"
              "COM5: no such port (it has no entry)\n"
              "COM6: no answer to the probe (no modem, or it is switched off)\n");

    result = probe({"--json", "3", "4", "5"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "{\"port\":\"COM3\",\"found\":true,\"mode\":\"normal\",\"flags\":2147483648,\"reason\":null}\n"
              "{\"port\":\"COM4\",\"found\":false,\"mode\":null,\"flags\":0,\"reason\":"
              "\"a modem of another product answered (ATI1: Acme 33.6 \\\"Voice\\\")\"}\n"
              "{\"port\":\"COM5\",\"found\":false,\"mode\":null,\"flags\":0,\"reason\":"
              "\"no such port (it has no entry)\"}\n");

    // Held by another program: the port is busy.
    e2e::Process holder(delivery_.executable(), {"upgrade", "COM6"}, {{"TARVO_HOST", host_.path()}});
    ASSERT_TRUE(holder.started());
    usleep(300000);
    result = probe({"6"});
    EXPECT_NE(result.err.find("COM6: the port is busy (held by another program)"), std::string::npos) << result.err;
    holder.signal(SIGINT);
    holder.wait(5000);
}

TEST_F(ProbeE2eTest, ASecondModemOnTheSamePortIsRefused)
{
    e2e::ModemSim first(host_.path(), "COM3");
    ASSERT_TRUE(first.ready());
    e2e::ModemSim second(host_.path(), "COM3");
    EXPECT_FALSE(second.ready());
    EXPECT_EQ(second.process().wait(), 1);
}

}  // namespace
