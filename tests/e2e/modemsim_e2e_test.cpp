// modemsim as a program: the receiver on a real pseudo-terminal, paced, with its image file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "link/serial_link.h"
#include "platform/serial_device.h"
#include "support/e2e_support.h"
#include "tools/modemsim/modem_model.h"

namespace {

constexpr uint32_t ReplyLimitMs = 3000;

// The first byte within the limit, or -1.
int replyByte(SerialPort port)
{
    auto start = std::chrono::steady_clock::now();
    uint8_t byte = 0;
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(ReplyLimitMs)) {
        if (readBytes(port, &byte, 1) == 1) {
            return byte;
        }
        waitForInput(port, 10);
    }
    return -1;
}

// Skips every byte but `wanted`, as a sender waiting for the receiver does.
bool awaitByte(SerialPort port, int wanted)
{
    auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(ReplyLimitMs)) {
        uint8_t byte = 0;
        if (readBytes(port, &byte, 1) == 1 && byte == wanted) {
            return true;
        }
        waitForInput(port, 10);
    }
    return false;
}

bool awaitPrompt(SerialPort port)
{
    char line[100];
    auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(ReplyLimitMs)) {
        if (readLine(port, line, sizeof line, LineCharTimeoutMs) == 1 && std::string(line).find('?') != std::string::npos) {
            return true;
        }
        waitForInput(port, 10);
    }
    return false;
}

class ModemsimE2eTest : public ::testing::Test {
protected:
    // Puts the modem into upload mode and waits for its first NAK.
    SerialPort startUpload()
    {
        SerialPort port = openPort("COM3", DefaultSpeedCode);
        EXPECT_NE(port, NoPort);
        writeText(port, "ATUPX\r");
        EXPECT_TRUE(awaitPrompt(port));
        writeText(port, "Y\r");
        EXPECT_TRUE(awaitByte(port, modemsim::Nak));
        purgePort(port);
        return port;
    }

    scratch::ScratchHost host_;
    e2e::TempDir out_;
};

TEST_F(ModemsimE2eTest, ReceivesAPacedImageAndWritesItTrimmed)
{
    std::vector<uint8_t> file(300);
    for (size_t i = 0; i < file.size(); ++i) {
        file[i] = static_cast<uint8_t>(i * 13 + 1);
    }
    e2e::ModemSim sim(host_.path(), "COM3",
                      {"--baud", "115200", "--image-out", out_.file("image"), "--image-size", "300", "--nak-block", "2=1"});
    ASSERT_TRUE(sim.ready());
    SerialPort port = startUpload();

    std::string replies;
    auto start = std::chrono::steady_clock::now();
    int transmissions = 0;
    for (uint8_t number = 1; number <= 3; ++number) {
        size_t offset = (number - 1u) * modemsim::BlockDataSize;
        std::vector<uint8_t> data(file.begin() + static_cast<long>(offset),
                                  file.begin() + static_cast<long>(std::min(file.size(), offset + modemsim::BlockDataSize)));
        std::vector<uint8_t> block = modemsim::makeBlock(number, data);
        int reply;
        do {
            ASSERT_EQ(writeBytes(port, block.data(), static_cast<int32_t>(block.size())), static_cast<int32_t>(block.size()));
            ++transmissions;
            reply = replyByte(port);
            replies += reply == modemsim::Ack ? 'A' : reply == modemsim::Nak ? 'N' : '?';
        } while (reply == modemsim::Nak && replies.size() < 6);
    }
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(replies, "ANAA");
    // Each block and its ACK take 133 bytes of 10 bits at 115200 baud: 11.5 ms.
    EXPECT_GE(elapsed, std::chrono::microseconds(transmissions * 133 * 86));

    uint8_t eot = modemsim::Eot;
    writeBytes(port, &eot, 1);
    EXPECT_EQ(replyByte(port), modemsim::Ack);
    closePort(port);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (e2e::readFile(out_.file("image")).size() != file.size() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(e2e::readFile(out_.file("image")), std::string(file.begin(), file.end()));
    EXPECT_EQ(e2e::readFile(out_.file("image.1")).size(), 3 * modemsim::BlockDataSize);
    EXPECT_EQ(sim.stop(), 0);
}

TEST_F(ModemsimE2eTest, PulledOutModemFailsTheLineAndLeaves)
{
    e2e::ModemSim sim(host_.path(), "COM3", {"--pull-out-after", "1"});
    ASSERT_TRUE(sim.ready());
    SerialPort port = startUpload();
    std::vector<uint8_t> block = modemsim::makeBlock(1, {1, 2, 3});
    writeBytes(port, block.data(), static_cast<int32_t>(block.size()));
    EXPECT_EQ(replyByte(port), modemsim::Ack);
    EXPECT_EQ(sim.process().wait(5000), 0);
    EXPECT_NE(sim.process().out().find("gone COM3"), std::string::npos);
    uint8_t byte = 0;
    EXPECT_LE(readBytes(port, &byte, 1), 0);
    EXPECT_EQ(writeBytes(port, block.data(), static_cast<int32_t>(block.size())), -1);
    closePort(port);
    EXPECT_EQ(openPort("COM3", DefaultSpeedCode), NoPort);
}

}  // namespace
