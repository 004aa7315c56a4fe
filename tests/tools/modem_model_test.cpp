#include "tools/modemsim/modem_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_device.h"
#include "tools/modemsim/simulated_ports.h"

namespace modemsim {
namespace {

constexpr Micros Ms = 1000;

void send(ModemModel& m, const std::string& text, Micros at)
{
    m.receive(reinterpret_cast<const uint8_t*>(text.data()), text.size(), at);
}

void send(ModemModel& m, const std::vector<uint8_t>& bytes, Micros at) { m.receive(bytes.data(), bytes.size(), at); }

std::string drain(ModemModel& m, Micros at)
{
    std::string out;
    uint8_t buf[64];
    while (size_t n = m.takeOutput(buf, sizeof buf, at)) {
        out.append(reinterpret_cast<char*>(buf), n);
    }
    return out;
}

// A modem that has been asked for upload mode and has sent its first NAK.
ModemModel receiving(ModemSettings settings = {})
{
    ModemModel m(std::move(settings));
    send(m, "ATUPX\rY\r", 0);
    EXPECT_EQ(m.mode(), ModemMode::Receiving);
    drain(m, 0);
    return m;
}

std::vector<uint8_t> filled(uint8_t seed, size_t n = BlockDataSize)
{
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; ++i) {
        data[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return data;
}

TEST(ModemModelDialogue, EchoIsOffUntilAte1AndAnswersAreVerboseLines)
{
    ModemModel m;
    send(m, "ATE1Q0V1\r", 0);
    EXPECT_EQ(drain(m, 0), "\r\nOK\r\n");
    send(m, "ATI9\r", 0);
    EXPECT_EQ(drain(m, 0), "ATI9\r\r\nKOR-56K V.90\r\n\r\nOK\r\n");
    send(m, "ati1\r", 0);
    EXPECT_EQ(drain(m, 0), "ati1\r\r\nNelta 56K USB\r\n\r\nV 1.05\r\n\r\nOK\r\n");
    EXPECT_EQ(m.commands(), (std::vector<std::string>{"ATE1Q0V1", "ATI9", "ati1"}));
}

TEST(ModemModelDialogue, KernelModeAnswersKernelToBothIdentifications)
{
    ModemSettings s;
    s.kernelMode = true;
    ModemModel m(s);
    send(m, "ATI9\r", 0);
    EXPECT_EQ(drain(m, 0), "\r\nKERNEL\r\n\r\nOK\r\n");
    send(m, "ATI1\r", 0);
    EXPECT_EQ(drain(m, 0), "\r\nKERNEL\r\n\r\nOK\r\n");
}

TEST(ModemModelDialogue, DelayedAnswerArrivesOnlyWhenDue)
{
    ModemSettings s;
    s.answerDelayMsFor["ATI9"] = 250;
    ModemModel m(s);
    send(m, "ATI9\r", 0);
    EXPECT_EQ(m.outputReady(249 * Ms), 0u);
    EXPECT_EQ(m.nextOutputAt(0), 250 * Ms);
    EXPECT_EQ(drain(m, 250 * Ms).substr(0, 9), "\r\nKOR-56K");
}

TEST(ModemModelDialogue, ErrorTimesThenOkAndUpxkNeedsBkor)
{
    ModemSettings s;
    s.errorTimes["ATBKOR"] = 2;
    ModemModel m(s);
    send(m, "ATUPXK\r", 0);
    EXPECT_EQ(drain(m, 0), "\r\nERROR\r\n");
    for (const char* expected : {"\r\nERROR\r\n", "\r\nERROR\r\n", "\r\nOK\r\n"}) {
        send(m, "ATBKOR\r", 0);
        EXPECT_EQ(drain(m, 0), expected);
    }
    send(m, "ATUPXK\r", 0);
    EXPECT_NE(drain(m, 0).find('?'), std::string::npos);
    EXPECT_EQ(m.mode(), ModemMode::Prompt);
}

TEST(ModemModelDialogue, SilentModemRecordsCommandsButSaysNothing)
{
    ModemSettings s;
    s.silent = true;
    s.echo = true;
    ModemModel m(s);
    send(m, "ATE1Q0V1\rATI9\r", 0);
    EXPECT_FALSE(m.nextOutputAt(0).has_value());
    EXPECT_EQ(m.commands().size(), 2u);
}

TEST(ModemModelReceiver, NaksEverySecondUntilTheFirstBlock)
{
    ModemModel m;
    send(m, "ATUPX\r", 0);
    drain(m, 0);
    send(m, "Y\r", 0);
    EXPECT_EQ(drain(m, 0), std::string(1, Nak));
    EXPECT_EQ(drain(m, 2500 * Ms), std::string(2, Nak));
    send(m, makeBlock(1, filled(1)), 2600 * Ms);
    EXPECT_EQ(drain(m, 10000 * Ms), std::string(1, Ack));
}

// One row per block the sender might put on the line after block 1 was stored.
struct BlockCase {
    const char* name;
    std::vector<uint8_t> block;
    uint8_t reply;
    bool stored;
};

TEST(ModemModelReceiver, JudgesEachBlock)
{
    std::vector<uint8_t> badSum = makeBlock(2, filled(2));
    badSum[BlockSize - 1] ^= 1;
    std::vector<uint8_t> badComplement = makeBlock(2, filled(2));
    badComplement[2] = 2;
    const BlockCase cases[] = {
        {"next", makeBlock(2, filled(2)), Ack, true},
        {"checksum", badSum, Nak, false},
        {"complement", badComplement, Nak, false},
        {"repeat", makeBlock(1, filled(1)), Ack, false},
        {"skipped", makeBlock(3, filled(3)), Nak, false},
    };
    for (const BlockCase& c : cases) {
        SCOPED_TRACE(c.name);
        ModemModel m = receiving();
        send(m, makeBlock(1, filled(1)), 0);
        ASSERT_EQ(drain(m, 0), std::string(1, Ack));
        send(m, c.block, 0);
        EXPECT_EQ(drain(m, 0), std::string(1, static_cast<char>(c.reply)));
        EXPECT_EQ(m.images().back().data.size(), (c.stored ? 2 : 1) * BlockDataSize);
    }
}

TEST(ModemModelReceiver, NumbersWrapAndEotEndsThePassBackInCommandMode)
{
    ModemModel m = receiving();
    std::vector<uint8_t> expected;
    for (int i = 1; i <= 257; ++i) {
        std::vector<uint8_t> data = filled(static_cast<uint8_t>(i));
        expected.insert(expected.end(), data.begin(), data.end());
        send(m, makeBlock(static_cast<uint8_t>(i), data), 0);
        ASSERT_EQ(drain(m, 0), std::string(1, Ack)) << "block " << i;
    }
    send(m, std::vector<uint8_t>{Eot}, 0);
    drain(m, 0);
    ASSERT_EQ(m.images().size(), 1u);
    EXPECT_TRUE(m.images()[0].complete);
    EXPECT_EQ(m.images()[0].data, expected);
    EXPECT_EQ(m.blocks()[255].number, 0);
    send(m, "AT\r", 0);
    EXPECT_EQ(drain(m, 0), "\r\nOK\r\n");
}

// A sender that goes away, before the first block or in the middle: after the give-up time
// without a byte the receiver stops its NAKs and the modem answers from its boot loader, until a
// pass ends with EOT and the new firmware runs.
TEST(ModemModelReceiver, GivesUpAfterItsTimeAndComesBackInKernelMode)
{
    for (bool midway : {false, true}) {
        SCOPED_TRACE(midway ? "after block 1" : "before any block");
        ModemSettings settings;
        settings.giveUpMs = 4000;
        ModemModel m = receiving(settings);
        Micros last = 0;
        if (midway) {
            send(m, makeBlock(1, filled(1)), 500 * Ms);
            ASSERT_EQ(drain(m, 500 * Ms), std::string(1, Ack));
            last = 500 * Ms;
        }
        EXPECT_EQ(m.mode(), ModemMode::Receiving);
        drain(m, last + 4000 * Ms);
        EXPECT_EQ(m.mode(), ModemMode::Receiving);
        EXPECT_EQ(drain(m, last + 60000 * Ms), "") << "no NAK after the give-up";
        EXPECT_EQ(m.mode(), ModemMode::Command);
        EXPECT_EQ(m.counters().givenUp, 1u);
        send(m, "ATI9\r", last + 61000 * Ms);
        EXPECT_EQ(drain(m, last + 61000 * Ms), "\r\nKERNEL\r\n\r\nOK\r\n");

        send(m, "ATUPX\rY\r", last + 62000 * Ms);
        drain(m, last + 62000 * Ms);
        send(m, makeBlock(1, filled(1)), last + 62100 * Ms);
        send(m, std::vector<uint8_t>{Eot}, last + 62200 * Ms);
        drain(m, last + 62200 * Ms);
        send(m, "ATI9\r", last + 63000 * Ms);
        EXPECT_EQ(drain(m, last + 63000 * Ms), "\r\nKOR-56K V.90\r\n\r\nOK\r\n");
    }
}

TEST(ModemModelReceiver, FillOfTheLastBlockIsKeptAndCanBeTrimmed)
{
    ModemModel m = receiving();
    send(m, makeBlock(1, filled(5, 44)), 0);
    send(m, std::vector<uint8_t>{Eot}, 0);
    const ReceivedImage& image = m.images().back();
    EXPECT_EQ(image.trimmed(44), filled(5, 44));
    EXPECT_TRUE(image.fillIsZero(44));
    EXPECT_FALSE(image.fillIsZero(43));  // the file's own last byte is not filling
}

TEST(ModemModelReceiver, MisbehaviourSwitches)
{
    {
        SCOPED_TRACE("NAK the second block twice");
        ModemSettings s;
        s.nakBlockTimes[2] = 2;
        ModemModel m = receiving(s);
        send(m, makeBlock(1, filled(1)), 0);
        std::string replies = drain(m, 0);
        for (int i = 0; i < 3; ++i) {
            send(m, makeBlock(2, filled(2)), 0);
            replies += drain(m, 0);
        }
        EXPECT_EQ(replies, (std::string{Ack, Nak, Nak, Ack}));
    }
    {
        SCOPED_TRACE("late ACK swallows the repetition sent meanwhile");
        ModemSettings s;
        s.lateAckBlock = 1;
        ModemModel m = receiving(s);
        send(m, makeBlock(1, filled(1)), 0);
        EXPECT_EQ(drain(m, 2000 * Ms), "");
        send(m, makeBlock(1, filled(1)), 2000 * Ms);
        EXPECT_EQ(drain(m, 2500 * Ms), std::string(1, Ack));
        send(m, makeBlock(2, filled(2)), 2600 * Ms);
        EXPECT_EQ(drain(m, 2600 * Ms), std::string(1, Ack));
        EXPECT_EQ(m.counters().blocksGood, 2u);
    }
    {
        SCOPED_TRACE("pulled out after two blocks");
        ModemSettings s;
        s.pullOutAfterBlocks = 2;
        ModemModel m = receiving(s);
        send(m, makeBlock(1, filled(1)), 0);
        send(m, makeBlock(2, filled(2)), 0);
        EXPECT_EQ(drain(m, 1 * Ms), std::string(2, Ack));
        EXPECT_TRUE(m.gone(1 * Ms));
        send(m, makeBlock(3, filled(3)), 1 * Ms);
        EXPECT_EQ(m.counters().blocksGood, 2u);
    }
}

TEST(ModemModelPacing, AckLeavesAfterTheBlocksLastByteAndPurgeSparesBytesOnTheWire)
{
    ModemSettings s;
    s.baud = 115200;
    ModemModel m(s);
    const Micros byte = 87;  // 10 bits at 115200, rounded up
    send(m, "ATUPX\rY\r", 0);
    Micros yArrived = 8 * byte;
    m.purgeOutput(1000 * Ms + 1);  // prompt and the first NAK have arrived by now
    // The second NAK leaves at one second after Y and is on the wire until one byte later.
    EXPECT_EQ(m.nextOutputAt(1000 * Ms + 1), yArrived + 1000 * Ms + byte);
    m.purgeOutput(yArrived + 1000 * Ms + byte - 1);
    EXPECT_EQ(drain(m, yArrived + 1000 * Ms + byte), std::string(1, Nak));

    Micros start = 5000 * Ms;
    drain(m, start);
    send(m, makeBlock(1, filled(1)), start);
    EXPECT_EQ(m.nextOutputAt(start), start + (BlockSize + 1) * byte);
}

TEST(SimulatedPorts, OnlyAddedPortsOpenAndEachOnlyOnce)
{
    SimulatedPorts ports;
    SimulatedModem& modem = ports.add("COM3");
    EXPECT_EQ(platform::openDevice("COM4", 115200), -1);
    int32_t first = platform::openDevice("COM3", 115200);
    ASSERT_GE(first, 0);
    EXPECT_EQ(platform::openDevice("COM3", 115200), -1);
    EXPECT_TRUE(modem.isOpen());
    platform::closeDevice(first);
    EXPECT_FALSE(modem.isOpen());
    int32_t again = platform::openDevice("COM3", 115200);
    EXPECT_GE(again, 0);
    platform::closeDevice(again);
    EXPECT_EQ(modem.openCount(), 2);
}

TEST(SimulatedPorts, WaitsSleepOnTheVirtualClockAndAGoneModemFails)
{
    platform::ScopedVirtualClock clock(0xFFFFFF00u);  // the tick counter wraps during the test
    SimulatedPorts ports;
    ModemSettings s;
    s.answerDelayMs = 300;
    SimulatedModem& modem = ports.add("COM1", s);
    int32_t h = platform::openDevice("COM1", 115200);
    auto device = platform::deviceFor(h);
    const uint8_t at[] = {'A', 'T', '\r'};
    ASSERT_EQ(device->write(at, 3), 3);
    uint8_t buf[16];
    EXPECT_EQ(device->read(buf, sizeof buf), 0);
    EXPECT_FALSE(device->waitReadable(100));
    EXPECT_EQ(clock->now(), 0xFFFFFF00u + 100);
    EXPECT_TRUE(device->waitReadable(1000));
    EXPECT_EQ(clock->now(), 0xFFFFFF00u + 300);
    EXPECT_EQ(device->read(buf, sizeof buf), 6);

    modem.pullOut();
    EXPECT_EQ(device->write(at, 3), -1);
    EXPECT_EQ(device->read(buf, sizeof buf), -1);
    EXPECT_FALSE(device->waitReadable(500));
    EXPECT_EQ(clock->now(), 0xFFFFFF00u + 800);
    platform::closeDevice(h);
}

}  // namespace
}  // namespace modemsim
