#include "tools/modemsim/simulated_ports.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "platform/threads.h"

namespace modemsim {

namespace {

constexpr Micros MicrosPerMs = 1000;

class SimulatedDevice : public platform::PortDevice {
public:
    explicit SimulatedDevice(std::shared_ptr<SimulatedModem> modem) : modem_(std::move(modem)) {}
    ~SimulatedDevice() override { modem_->close(); }

    int read(uint8_t* buf, int n) override { return modem_->read(buf, n); }
    int write(const uint8_t* buf, int n) override { return modem_->write(buf, n); }
    void purge() override { modem_->purge(); }
    bool waitReadable(uint32_t timeoutMs) override { return modem_->waitReadable(timeoutMs); }
    void lowerDtr() override { modem_->lowerDtr(); }

private:
    std::shared_ptr<SimulatedModem> modem_;
};

bool sameName(const std::string& a, const std::string& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y)); });
}

}  // namespace

SimulatedModem::SimulatedModem(ModemSettings settings) : model_(std::move(settings)) {}

Micros SimulatedModem::now()
{
    if (platform::clockIsVirtual()) {
        // Extend the wrapping 32-bit ticks so the model's time only moves forward.
        platform::Ticks ticks = platform::tickCount();
        if (!clockSeen_) {
            virtualMicros_ = static_cast<Micros>(ticks) * MicrosPerMs;
            clockSeen_ = true;
        } else {
            virtualMicros_ += static_cast<Micros>(static_cast<uint32_t>(ticks - lastTicks_)) * MicrosPerMs;
        }
        lastTicks_ = ticks;
        return virtualMicros_;
    }
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<Micros>(std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

std::vector<std::string> SimulatedModem::commands() const
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    return model_.commands();
}

std::vector<ReceivedBlock> SimulatedModem::blocks() const
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    return model_.blocks();
}

std::vector<ReceivedImage> SimulatedModem::images() const
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    return model_.images();
}

ModemCounters SimulatedModem::counters() const
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    return model_.counters();
}

ModemMode SimulatedModem::mode() const
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    return model_.mode();
}

bool SimulatedModem::isPulledOut() const
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    return pulledOut_;
}

bool SimulatedModem::isOpen() const
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    return open_;
}

int SimulatedModem::openCount() const
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    return openCount_;
}

int SimulatedModem::dtrDrops() const
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    return dtrDrops_;
}

uint32_t SimulatedModem::lastBaud() const
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    return lastBaud_;
}

void SimulatedModem::pullOut()
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    pulledOut_ = true;
    model_.pullOut(now());
}

bool SimulatedModem::tryOpen(uint32_t baud)
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    if (open_ || pulledOut_) {
        return false;
    }
    open_ = true;
    ++openCount_;
    lastBaud_ = baud;
    return true;
}

void SimulatedModem::close()
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    open_ = false;
}

int SimulatedModem::read(uint8_t* buf, int n)
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    Micros t = now();
    if (n <= 0) {
        return 0;
    }
    size_t taken = model_.takeOutput(buf, static_cast<size_t>(n), t);
    if (taken > 0) {
        return static_cast<int>(taken);
    }
    return model_.gone(t) ? -1 : 0;
}

int SimulatedModem::write(const uint8_t* buf, int n)
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    Micros t = now();
    if (model_.gone(t)) {
        return -1;
    }
    if (n > 0) {
        model_.receive(buf, static_cast<size_t>(n), t);
    }
    return n;
}

void SimulatedModem::purge()
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    model_.purgeOutput(now());
}

void SimulatedModem::lowerDtr()
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    ++dtrDrops_;
}

bool SimulatedModem::waitReadable(uint32_t timeoutMs)
{
    std::optional<Micros> wait;
    {
        std::lock_guard<platform::Mutex> lock(mutex_);
        Micros t = now();
        if (!model_.gone(t)) {
            if (model_.outputReady(t) > 0) {
                return true;
            }
            if (auto next = model_.nextOutputAt(t)) {
                wait = *next > t ? *next - t : 0;
            }
        }
    }
    // A gone modem or a silent one: the wait runs out its time, as on a real line.
    if (!wait || *wait > static_cast<Micros>(timeoutMs) * MicrosPerMs) {
        platform::sleepMs(timeoutMs);
        return false;
    }
    if (platform::clockIsVirtual()) {
        platform::sleepMs(static_cast<uint32_t>((*wait + MicrosPerMs - 1) / MicrosPerMs));
    } else {
        // To the microsecond: a paced modem's ACK is due well inside one millisecond tick.
        std::this_thread::sleep_for(std::chrono::microseconds(*wait));
    }
    return true;
}

SimulatedPorts::SimulatedPorts()
{
    platform::setPortOpener([this](const std::string& name, uint32_t baud) { return open(name, baud); });
}

SimulatedPorts::~SimulatedPorts() { platform::setPortOpener({}); }

SimulatedModem& SimulatedPorts::add(const std::string& portName, ModemSettings settings)
{
    auto modem = std::make_shared<SimulatedModem>(std::move(settings));
    std::lock_guard<platform::Mutex> lock(mutex_);
    for (auto& entry : ports_) {
        if (sameName(entry.first, portName)) {
            entry.second->pullOut();
            entry.second = modem;
            return *modem;
        }
    }
    ports_.emplace_back(portName, modem);
    return *modem;
}

void SimulatedPorts::remove(const std::string& portName)
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    auto it = std::find_if(ports_.begin(), ports_.end(), [&](const auto& e) { return sameName(e.first, portName); });
    if (it != ports_.end()) {
        it->second->pullOut();
        ports_.erase(it);
    }
}

SimulatedModem* SimulatedPorts::find(const std::string& portName)
{
    std::lock_guard<platform::Mutex> lock(mutex_);
    for (auto& entry : ports_) {
        if (sameName(entry.first, portName)) {
            return entry.second.get();
        }
    }
    return nullptr;
}

std::unique_ptr<platform::PortDevice> SimulatedPorts::open(const std::string& portName, uint32_t baud)
{
    std::shared_ptr<SimulatedModem> modem;
    {
        std::lock_guard<platform::Mutex> lock(mutex_);
        for (auto& entry : ports_) {
            if (sameName(entry.first, portName)) {
                modem = entry.second;
            }
        }
    }
    if (!modem) {
        platform::setPortOpenError(platform::PortOpenError::NoEntry);
        return nullptr;
    }
    if (!modem->tryOpen(baud)) {
        platform::setPortOpenError(modem->isPulledOut() ? platform::PortOpenError::NoDevice
                                                        : platform::PortOpenError::Busy);
        return nullptr;
    }
    return std::make_unique<SimulatedDevice>(modem);
}

}  // namespace modemsim
