#include "tools/modemsim/modem_model.h"

#include <algorithm>
#include <cctype>

namespace modemsim {

namespace {

constexpr Micros MicrosPerMs = 1000;
constexpr Micros MicrosPerSecond = 1000000;
constexpr size_t CommandLineLimit = 256;  // a modem's command buffer; the rest is dropped
constexpr const char* LineEnd = "\r\n";

std::string upperTrimmed(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    size_t last = text.find_last_not_of(" \t");
    std::string result = text.substr(first, last - first + 1);
    for (char& c : result) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return result;
}

}  // namespace

uint8_t blockChecksum(const uint8_t* data, size_t n)
{
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i) {
        sum += data[i];
    }
    return static_cast<uint8_t>(sum);
}

std::vector<uint8_t> makeBlock(uint8_t number, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> block(BlockSize, 0);
    block[0] = Soh;
    block[1] = number;
    block[2] = static_cast<uint8_t>(255 - number);
    std::copy_n(data.begin(), std::min(data.size(), BlockDataSize), block.begin() + 3);
    block[BlockSize - 1] = blockChecksum(block.data() + 3, BlockDataSize);
    return block;
}

std::vector<uint8_t> ReceivedImage::trimmed(size_t size) const
{
    return std::vector<uint8_t>(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min(size, data.size())));
}

bool ReceivedImage::fillIsZero(size_t size) const
{
    return size <= data.size() &&
           std::all_of(data.begin() + static_cast<std::ptrdiff_t>(size), data.end(), [](uint8_t b) { return b == 0; });
}

ModemModel::ModemModel(ModemSettings settings) : settings_(std::move(settings)), echo_(settings_.echo) {}

Micros ModemModel::byteTime() const
{
    if (settings_.baud == 0) {
        return 0;
    }
    // Rounded up: a simulated line may be a hair slow, never faster than the real one.
    return (BitsPerByteOnWire * MicrosPerSecond + settings_.baud - 1) / settings_.baud;
}

bool ModemModel::gone(Micros now) const { return goneAt_ && now >= *goneAt_; }

void ModemModel::pullOut(Micros now)
{
    if (!goneAt_ || *goneAt_ > now) {
        goneAt_ = now;
    }
    output_.clear();
    nextNak_.reset();
}

void ModemModel::advanceTo(Micros t)
{
    if (mode_ == ModemMode::Receiving && !gone(t)) {
        Micros giveUpAt = lastReceiverByte_ + static_cast<Micros>(settings_.giveUpMs) * MicrosPerMs;
        if (t > giveUpAt) {
            // NAKs due before the give-up still went out.
            while (nextNak_ && *nextNak_ <= giveUpAt) {
                Micros at = *nextNak_;
                sendByte(Nak, at);
                ++counters_.naksSent;
                nextNak_ = at + NakRepeatMs * MicrosPerMs;
            }
            giveUp(giveUpAt);
        }
    }
    // The receiver's NAKs while it waits for the first block are the only output that nobody
    // asked for; they are put on the line lazily, whenever the caller's time passes them.
    while (nextNak_ && *nextNak_ <= t && !gone(*nextNak_)) {
        Micros at = *nextNak_;
        sendByte(Nak, at);
        ++counters_.naksSent;
        nextNak_ = at + NakRepeatMs * MicrosPerMs;
    }
}

void ModemModel::sendByte(uint8_t byte, Micros t)
{
    Micros start = std::max(t, lastOutputDue_);
    Micros due = start + byteTime();
    output_.push_back({due, byte});
    lastOutputDue_ = due;
}

void ModemModel::send(const std::string& bytes, Micros t)
{
    for (char c : bytes) {
        sendByte(static_cast<uint8_t>(c), t);
    }
}

void ModemModel::answer(const std::vector<std::string>& lines, Micros t)
{
    for (const std::string& line : lines) {
        send(LineEnd + line + LineEnd, t);
    }
}

void ModemModel::receive(const uint8_t* bytes, size_t n, Micros now)
{
    for (size_t i = 0; i < n; ++i) {
        Micros arrival = std::max(now, lastInputArrival_) + byteTime();
        lastInputArrival_ = arrival;
        if (gone(arrival)) {
            return;
        }
        ++counters_.bytesReceived;
        advanceTo(arrival);
        handleByte(bytes[i], arrival);
    }
}

void ModemModel::handleByte(uint8_t byte, Micros t)
{
    switch (mode_) {
    case ModemMode::Command:
    case ModemMode::Prompt:
        commandByte(byte, t);
        break;
    case ModemMode::Receiving:
        receiverByte(byte, t);
        break;
    }
}

void ModemModel::commandByte(uint8_t byte, Micros t)
{
    if (echo_ && !settings_.silent) {
        sendByte(byte, t);
    }
    if (byte == '\n') {
        return;
    }
    if (byte != '\r') {
        if (lineBuffer_.size() < CommandLineLimit) {
            lineBuffer_ += static_cast<char>(byte);
        }
        return;
    }
    std::string line;
    line.swap(lineBuffer_);
    if (mode_ == ModemMode::Prompt) {
        mode_ = ModemMode::Command;
        if (upperTrimmed(line) == "Y") {
            commands_.push_back(line);
            ++counters_.commands;
            startReceiver(t);
            return;
        }
        // Anything but Y declines the upload; the line is then an ordinary command.
    }
    commandLine(line, t);
}

bool ModemModel::takeError(const std::string& command)
{
    auto it = settings_.errorTimes.find(command);
    if (it == settings_.errorTimes.end() || it->second <= 0) {
        return false;
    }
    --it->second;
    return true;
}

void ModemModel::commandLine(const std::string& line, Micros t)
{
    commands_.push_back(line);
    ++counters_.commands;
    std::string command = upperTrimmed(line);
    if (settings_.silent || command.size() < 2 || command.compare(0, 2, "AT") != 0) {
        return;  // a modem ignores what is not an AT command
    }
    Micros at = t + settings_.answerDelayMs * MicrosPerMs;
    if (auto it = settings_.answerDelayMsFor.find(command); it != settings_.answerDelayMsFor.end()) {
        at += it->second * MicrosPerMs;
    }
    if (takeError(command)) {
        answer({ErrorAnswer}, at);
        return;
    }
    const std::vector<std::string> kernel{KernelAnswer};
    if (command == "ATI9") {
        answer(settings_.kernelMode ? kernel : settings_.ati9Lines, at);
    } else if (command == "ATI1") {
        answer(settings_.kernelMode ? settings_.kernelAti1Lines : settings_.ati1Lines, at);
    } else if (command == "ATV") {
        answer(settings_.atvLines, at);
    } else if (command == "ATBKOR") {
        bkorAccepted_ = true;
    } else if (command == "ATUPX" || command == "ATUPXK") {
        bool allowed = command == "ATUPX" || bkorAccepted_;
        if (command == "ATUPXK") {
            bkorAccepted_ = false;
        }
        if (settings_.refuseUpload || !allowed) {
            answer({ErrorAnswer}, at);
        } else if (!settings_.noPrompt) {
            answer({UploadPrompt}, at);
            mode_ = ModemMode::Prompt;
        }
        return;
    } else {
        // Chained settings such as ATE1Q0V1: only the echo matters here.
        for (size_t i = 2; i + 1 < command.size(); ++i) {
            if (command[i] == 'E' && (command[i + 1] == '0' || command[i + 1] == '1')) {
                echo_ = command[i + 1] == '1';
            }
        }
    }
    answer({OkAnswer}, at);
}

void ModemModel::startReceiver(Micros t)
{
    mode_ = ModemMode::Receiving;
    images_.push_back({});
    block_.clear();
    lastStored_ = 0;
    passBlockIndex_ = 0;
    naksGiven_.clear();
    lateAckGiven_ = false;
    busyUntil_.reset();
    lastReceiverByte_ = t;
    if (!settings_.noFirstNak) {
        nextNak_ = t;
        advanceTo(t);
    }
    if (settings_.pullOutAfterBlocks == 0) {
        goneAt_ = t;
    }
}

void ModemModel::giveUp(Micros)
{
    mode_ = ModemMode::Command;
    nextNak_.reset();
    block_.clear();
    busyUntil_.reset();
    settings_.kernelMode = true;
    ++counters_.givenUp;
}

void ModemModel::receiverByte(uint8_t byte, Micros t)
{
    Micros previous = lastReceiverByte_;
    lastReceiverByte_ = t;
    if (busyUntil_ && t < *busyUntil_) {
        ++counters_.bytesIgnored;  // still busy with the block it will acknowledge late
        return;
    }
    if (t - previous > static_cast<Micros>(settings_.giveUpMs) * MicrosPerMs) {
        // The sender went away; like a real modem, give up upload mode and listen for commands.
        giveUp(previous + static_cast<Micros>(settings_.giveUpMs) * MicrosPerMs);
        commandByte(byte, t);
        return;
    }
    if (!block_.empty() && t - previous > BlockByteGapMs * MicrosPerMs) {
        ++counters_.blocksDropped;
        block_.clear();
    }
    if (block_.empty()) {
        if (byte == Soh) {
            block_.push_back(byte);
            nextNak_.reset();
        } else if (byte == Eot) {
            ++counters_.eots;
            images_.back().complete = true;
            settings_.kernelMode = false;  // the new firmware runs
            nextNak_.reset();
            sendByte(Ack, t);
            ++counters_.acksSent;
            mode_ = ModemMode::Command;
        } else {
            ++counters_.bytesIgnored;
        }
        return;
    }
    block_.push_back(byte);
    if (block_.size() == BlockSize) {
        finishBlock(t);
    }
}

void ModemModel::finishBlock(Micros t)
{
    ReceivedBlock received;
    received.number = block_[1];
    received.complementOk = block_[2] == static_cast<uint8_t>(255 - block_[1]);
    received.data.assign(block_.begin() + 3, block_.begin() + 3 + BlockDataSize);
    received.checksumOk = blockChecksum(received.data.data(), BlockDataSize) == block_[BlockSize - 1];
    block_.clear();

    auto reply = [&](uint8_t byte, Micros at) {
        sendByte(byte, at);
        ++(byte == Ack ? counters_.acksSent : counters_.naksSent);
    };
    if (!received.complementOk || !received.checksumOk) {
        ++counters_.blocksBad;
        blocks_.push_back(std::move(received));
        reply(Nak, t);
        return;
    }
    if (passBlockIndex_ > 0 && received.number == lastStored_) {
        // Our ACK was lost or late and the sender repeated the block: acknowledge, store once.
        received.duplicate = true;
        ++counters_.blocksDuplicate;
        blocks_.push_back(std::move(received));
        reply(Ack, t);
        return;
    }
    if (received.number != static_cast<uint8_t>(lastStored_ + 1)) {
        ++counters_.blocksOutOfOrder;
        blocks_.push_back(std::move(received));
        reply(Nak, t);
        return;
    }
    uint32_t index = passBlockIndex_ + 1;
    if (auto it = settings_.nakBlockTimes.find(index); it != settings_.nakBlockTimes.end() && naksGiven_[index] < it->second) {
        ++naksGiven_[index];
        blocks_.push_back(std::move(received));
        reply(Nak, t);
        return;
    }
    ReceivedImage& image = images_.back();
    image.data.insert(image.data.end(), received.data.begin(), received.data.end());
    lastStored_ = received.number;
    passBlockIndex_ = index;
    ++ackedTotal_;
    ++counters_.blocksGood;
    received.stored = true;
    blocks_.push_back(std::move(received));

    Micros ackAt = t;
    if (settings_.lateAckBlock == index && !lateAckGiven_) {
        lateAckGiven_ = true;
        ackAt = t + settings_.lateAckMs * MicrosPerMs;
        busyUntil_ = ackAt;
    }
    reply(Ack, ackAt);
    if (settings_.pullOutAfterBlocks > 0 && ackedTotal_ == static_cast<uint32_t>(settings_.pullOutAfterBlocks)) {
        goneAt_ = lastOutputDue_;  // pulled out right after the ACK left
    }
}

size_t ModemModel::takeOutput(uint8_t* buffer, size_t n, Micros now)
{
    advanceTo(now);
    size_t count = 0;
    while (count < n && !output_.empty() && output_.front().due <= now && (!goneAt_ || output_.front().due <= *goneAt_)) {
        buffer[count++] = output_.front().byte;
        output_.pop_front();
    }
    counters_.bytesSent += static_cast<uint32_t>(count);
    return count;
}

size_t ModemModel::outputReady(Micros now)
{
    advanceTo(now);
    size_t count = 0;
    for (const Outgoing& o : output_) {
        if (o.due > now || (goneAt_ && o.due > *goneAt_)) {
            break;
        }
        ++count;
    }
    return count;
}

std::optional<Micros> ModemModel::nextOutputAt(Micros now)
{
    advanceTo(now);
    std::optional<Micros> next;
    if (!output_.empty() && (!goneAt_ || output_.front().due <= *goneAt_)) {
        next = output_.front().due;
    }
    if (nextNak_ && !goneAt_) {
        Micros nak = std::max(*nextNak_, lastOutputDue_) + byteTime();
        next = next ? std::min(*next, nak) : nak;
    }
    return next;
}

void ModemModel::purgeOutput(Micros now)
{
    advanceTo(now);
    ++counters_.purges;
    while (!output_.empty() && output_.front().due <= now) {
        output_.pop_front();
        ++counters_.bytesPurged;
    }
}

}  // namespace modemsim
