#include "support/scripted_port.h"

#include "platform/clock.h"
#include "platform/threads.h"

namespace testing_support {

void ScriptedPort::arriveAt(uint32_t at, const std::string& bytes, uint32_t gapMs)
{
    std::lock_guard<platform::RecursiveMutex> lock(mutex_);
    uint32_t t = at;
    for (char c : bytes) {
        input_.push_back({t, static_cast<uint8_t>(c)});
        t += gapMs;
    }
}

void ScriptedPort::arriveIn(uint32_t delayMs, const std::string& bytes, uint32_t gapMs)
{
    arriveAt(platform::tickCount() + delayMs, bytes, gapMs);
}

std::string ScriptedPort::written() const
{
    std::lock_guard<platform::RecursiveMutex> lock(mutex_);
    std::string all;
    for (const auto& w : writes_) {
        all += w.bytes;
    }
    return all;
}

std::vector<ScriptedLine> ScriptedPort::writes() const
{
    std::lock_guard<platform::RecursiveMutex> lock(mutex_);
    return writes_;
}

int ScriptedPort::purges() const
{
    std::lock_guard<platform::RecursiveMutex> lock(mutex_);
    return purges_;
}

int ScriptedPort::dtrDrops() const
{
    std::lock_guard<platform::RecursiveMutex> lock(mutex_);
    return dtrDrops_;
}

size_t ScriptedPort::pendingBytes() const
{
    std::lock_guard<platform::RecursiveMutex> lock(mutex_);
    return input_.size();
}

bool ScriptedPort::isOpen() const
{
    std::lock_guard<platform::RecursiveMutex> lock(mutex_);
    return open_;
}

void ScriptedPort::setGone(bool gone)
{
    std::lock_guard<platform::RecursiveMutex> lock(mutex_);
    gone_ = gone;
}

void ScriptedPort::setOpen(bool open)
{
    std::lock_guard<platform::RecursiveMutex> lock(mutex_);
    open_ = open;
}

int ScriptedPort::read(uint8_t* buf, int n)
{
    std::lock_guard<platform::RecursiveMutex> lock(mutex_);
    if (gone_) {
        return -1;
    }
    uint32_t now = platform::tickCount();
    int got = 0;
    while (got < n && !input_.empty() && static_cast<int32_t>(now - input_.front().at) >= 0) {
        buf[got++] = input_.front().byte;
        input_.pop_front();
    }
    return got;
}

int ScriptedPort::write(const uint8_t* buf, int n)
{
    std::function<void(ScriptedPort&, const std::string&)> responder;
    std::string bytes(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
    {
        std::lock_guard<platform::RecursiveMutex> lock(mutex_);
        if (gone_) {
            return -1;
        }
        writes_.push_back({bytes, platform::tickCount()});
        responder = onWrite;
    }
    if (responder) {
        responder(*this, bytes);
    }
    return n;
}

void ScriptedPort::purge()
{
    std::lock_guard<platform::RecursiveMutex> lock(mutex_);
    ++purges_;
    uint32_t now = platform::tickCount();
    // Only what has already arrived is discarded; bytes still on the way arrive later.
    while (!input_.empty() && static_cast<int32_t>(now - input_.front().at) >= 0) {
        input_.pop_front();
    }
}

bool ScriptedPort::waitReadable(uint32_t timeoutMs)
{
    uint32_t now = platform::tickCount();
    uint32_t wait = timeoutMs;
    {
        std::lock_guard<platform::RecursiveMutex> lock(mutex_);
        if (gone_) {
            platform::sleepMs(timeoutMs);
            return false;
        }
        if (!input_.empty()) {
            int32_t until = static_cast<int32_t>(input_.front().at - now);
            if (until <= 0) {
                return true;
            }
            if (static_cast<uint32_t>(until) <= timeoutMs) {
                wait = static_cast<uint32_t>(until);
            }
        }
    }
    platform::sleepMs(wait);
    std::lock_guard<platform::RecursiveMutex> lock(mutex_);
    return !input_.empty() && static_cast<int32_t>(platform::tickCount() - input_.front().at) >= 0;
}

void ScriptedPort::lowerDtr()
{
    std::lock_guard<platform::RecursiveMutex> lock(mutex_);
    ++dtrDrops_;
}

namespace {

class ScriptedDevice : public platform::PortDevice {
public:
    explicit ScriptedDevice(std::shared_ptr<ScriptedPort> port) : port_(std::move(port)) { port_->setOpen(true); }
    ~ScriptedDevice() override { port_->setOpen(false); }
    int read(uint8_t* buf, int n) override { return port_->read(buf, n); }
    int write(const uint8_t* buf, int n) override { return port_->write(buf, n); }
    void purge() override { port_->purge(); }
    bool waitReadable(uint32_t timeoutMs) override { return port_->waitReadable(timeoutMs); }
    void lowerDtr() override { port_->lowerDtr(); }

private:
    std::shared_ptr<ScriptedPort> port_;
};

}  // namespace

ScriptedPorts::ScriptedPorts()
{
    platform::setPortOpener([this](const std::string& name, uint32_t baud) -> std::unique_ptr<platform::PortDevice> {
        lastBaud_ = baud;
        auto it = ports_.find(name);
        if (it == ports_.end() || it->second->isOpen()) {
            return nullptr;
        }
        return std::make_unique<ScriptedDevice>(it->second);
    });
}

ScriptedPorts::~ScriptedPorts() { platform::setPortOpener(nullptr); }

ScriptedPort& ScriptedPorts::add(const std::string& portName)
{
    auto port = std::make_shared<ScriptedPort>();
    ports_[portName] = port;
    return *port;
}

}  // namespace testing_support
