// The simulated modem: a byte-level state machine that answers the AT dialogue (echo,
// identification, kernel mode, upload mode) and receives firmware images as an XMODEM-style
// receiver (132-byte blocks, 8-bit checksum, ACK/NAK, EOT), with switches to misbehave.
//
// The model has no clock and no thread of its own: every call carries the time (microseconds on
// any monotonic scale the caller keeps). Bytes from the host go in with receive(); answers are
// queued with the time their last bit would have arrived and are taken with takeOutput() once
// due. At baud 0 every byte is instant; at 115200 each byte costs 10 bits on the wire in both
// directions (86.8 us), so an ACK leaves only after the block's last byte has arrived.
// The in-process port (simulated_ports.h) and the modemsim program (main.cpp) drive it.
//
// Results: counts >= 0; nextOutputAt() is empty when nothing is scheduled.
// Thread rule: none inside; one caller at a time (SimulatedModem adds the lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace modemsim {

using Micros = uint64_t;

// Control bytes and the block layout of the upload.
constexpr uint8_t Soh = 0x01;
constexpr uint8_t Eot = 0x04;
constexpr uint8_t Ack = 0x06;
constexpr uint8_t Nak = 0x15;
constexpr size_t BlockDataSize = 128;
constexpr size_t BlockSize = 3 + BlockDataSize + 1;  // SOH, number, complement, data, checksum

// Receiver timing.
constexpr uint32_t NakRepeatMs = 1000;         // NAK while waiting for the first block
constexpr uint32_t LateAckDefaultMs = 2500;    // a late ACK: beyond the sender's 2 s wait
constexpr uint32_t BlockByteGapMs = 1000;      // a block stalled this long is dropped
constexpr uint32_t ReceiverIdleMs = 10000;     // default give-up: upload mode left after this silence
constexpr uint32_t BitsPerByteOnWire = 10;     // 8N1: start, 8 data, stop

// The modem's own texts.
constexpr const char* OkAnswer = "OK";
constexpr const char* ErrorAnswer = "ERROR";
constexpr const char* KernelAnswer = "KERNEL";
constexpr const char* UploadPrompt = "Upload new firmware (Y/N)?";

struct ModemSettings {
    // Identification answers, one entry per line (the final OK is added by the modem).
    std::vector<std::string> ati9Lines{"KOR-56K V.90"};
    std::vector<std::string> ati1Lines{"Nelta 56K USB", "V 1.05"};
    std::vector<std::string> atvLines{"56K MODEM"};
    // A kernel-mode modem answers KERNEL to ATI9, and kernelAti1Lines to ATI1.
    bool kernelMode = false;
    std::vector<std::string> kernelAti1Lines{"KERNEL"};
    // Echo before the first ATE command; ATE1 / ATE0 switch it.
    bool echo = false;

    // Misbehaviour.
    bool silent = false;                            // answers nothing, echoes nothing
    uint32_t answerDelayMs = 0;                     // before every answer (not the echo)
    std::map<std::string, uint32_t> answerDelayMsFor;  // per command ("ATI9"), on top
    std::map<std::string, int> errorTimes;          // "ATBKOR" -> answered ERROR this often first
    bool refuseUpload = false;                      // ATUPX / ATUPXK answered ERROR
    bool noPrompt = false;                          // ATUPX / ATUPXK answered with nothing
    bool noFirstNak = false;                        // upload mode never sends its NAK
    std::map<uint32_t, int> nakBlockTimes;          // block index in the pass (1 = first) -> NAKs
    uint32_t lateAckBlock = 0;                      // block index acknowledged late; 0: none
    uint32_t lateAckMs = LateAckDefaultMs;
    int pullOutAfterBlocks = -1;                    // gone after this many ACKed blocks; -1: never
    // The receiver gives up after this long without a byte from the sender (first NAKs
    // included) and, its firmware half written, comes back in its boot loader: kernel mode,
    // from where it can be flashed again. A pass that ends with EOT leaves working firmware.
    uint32_t giveUpMs = ReceiverIdleMs;

    // Pacing: 0 = instant; otherwise the line speed in baud.
    uint32_t baud = 0;
};

// One block as it arrived, good or not.
struct ReceivedBlock {
    uint8_t number = 0;
    bool complementOk = false;
    bool checksumOk = false;
    bool duplicate = false;  // the previous block again: acknowledged, not stored
    bool stored = false;
    std::vector<uint8_t> data;  // the 128 data bytes
};

// One file pass: every stored block's data in order, the last block's 0x00 filling included.
struct ReceivedImage {
    std::vector<uint8_t> data;
    bool complete = false;  // ended with EOT
    // The first `size` bytes (the file as sent), and whether every byte after them is 0x00.
    std::vector<uint8_t> trimmed(size_t size) const;
    bool fillIsZero(size_t size) const;
};

struct ModemCounters {
    uint32_t bytesReceived = 0;
    uint32_t bytesSent = 0;
    uint32_t commands = 0;
    uint32_t naksSent = 0;
    uint32_t acksSent = 0;
    uint32_t blocksGood = 0;       // stored
    uint32_t blocksBad = 0;        // complement or checksum wrong
    uint32_t blocksDuplicate = 0;
    uint32_t blocksOutOfOrder = 0;
    uint32_t blocksDropped = 0;    // stalled mid-block
    uint32_t eots = 0;
    uint32_t bytesIgnored = 0;     // arrived while busy (late ACK) or between blocks
    uint32_t purges = 0;
    uint32_t givenUp = 0;          // upload passes the receiver gave up
    uint32_t bytesPurged = 0;
};

enum class ModemMode { Command, Prompt, Receiving };

class ModemModel {
public:
    explicit ModemModel(ModemSettings settings = {});

    // Bytes from the host, written at `now`; at a pacing baud they arrive one byte time apart.
    void receive(const uint8_t* bytes, size_t n, Micros now);
    // Takes up to n bytes that have arrived at the host by `now`.
    size_t takeOutput(uint8_t* buffer, size_t n, Micros now);
    // Bytes that have arrived at the host by `now` and are not taken yet.
    size_t outputReady(Micros now);
    // When the next byte will have arrived at the host; empty when nothing is scheduled.
    std::optional<Micros> nextOutputAt(Micros now);
    // The host purged its receive buffer: bytes already arrived are dropped, bytes still on the
    // wire keep coming.
    void purgeOutput(Micros now);

    // Device gone (pulled out): reads and writes fail from now on.
    bool gone(Micros now) const;
    void pullOut(Micros now);

    ModemSettings& settings() { return settings_; }
    const ModemSettings& settings() const { return settings_; }
    ModemMode mode() const { return mode_; }
    bool echo() const { return echo_; }

    const std::vector<std::string>& commands() const { return commands_; }
    const std::vector<ReceivedBlock>& blocks() const { return blocks_; }
    const std::vector<ReceivedImage>& images() const { return images_; }
    const ModemCounters& counters() const { return counters_; }

private:
    struct Outgoing {
        Micros due;
        uint8_t byte;
    };

    Micros byteTime() const;
    void advanceTo(Micros t);
    void handleByte(uint8_t byte, Micros t);
    void commandByte(uint8_t byte, Micros t);
    void commandLine(const std::string& line, Micros t);
    void receiverByte(uint8_t byte, Micros t);
    void finishBlock(Micros t);
    void startReceiver(Micros t);
    void giveUp(Micros t);
    void send(const std::string& bytes, Micros t);
    void sendByte(uint8_t byte, Micros t);
    void answer(const std::vector<std::string>& lines, Micros t);
    bool takeError(const std::string& command);

    ModemSettings settings_;
    ModemMode mode_ = ModemMode::Command;
    bool echo_ = false;
    bool bkorAccepted_ = false;
    std::string lineBuffer_;
    std::deque<Outgoing> output_;
    Micros lastOutputDue_ = 0;
    Micros lastInputArrival_ = 0;
    Micros lastReceiverByte_ = 0;
    std::optional<Micros> nextNak_;
    std::optional<Micros> busyUntil_;
    std::optional<Micros> goneAt_;
    std::vector<uint8_t> block_;
    uint8_t lastStored_ = 0;
    uint32_t passBlockIndex_ = 0;  // blocks stored in this pass
    uint32_t ackedTotal_ = 0;      // blocks stored over all passes
    std::map<uint32_t, int> naksGiven_;
    bool lateAckGiven_ = false;

    std::vector<std::string> commands_;
    std::vector<ReceivedBlock> blocks_;
    std::vector<ReceivedImage> images_;
    ModemCounters counters_;
};

// The 8-bit sum of a block's data, as the sender computes it.
uint8_t blockChecksum(const uint8_t* data, size_t n);
// A block for tests: SOH, number, complement, the data filled with 0x00 to 128, checksum.
std::vector<uint8_t> makeBlock(uint8_t number, const std::vector<uint8_t>& data);

}  // namespace modemsim
