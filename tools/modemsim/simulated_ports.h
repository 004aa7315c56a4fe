// In-process COM ports with simulated modems behind them, for tests and benchmarks.
//
// SimulatedPorts installs a port opener (platform/serial_device.h) for its life and restores the
// default one when it goes. Only the ports added to it exist; opening any other name fails, and
// a port that is already open refuses a second open until it is closed. Each port's device runs
// its ModemModel on the platform clock in force: on a VirtualClock a wait for input sleeps on
// that clock (so a 30 s time-out costs no real time); on the real clock it sleeps to the
// microsecond so a paced modem keeps its line speed.
//
// Results: add() gives the port's modem; find() null for an unknown port.
// Thread rule: one thread uses an open port while any other thread inspects its modem; every
// SimulatedModem call takes the modem's own lock. add/remove are for test set-up.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/serial_device.h"
#include "platform/threads.h"
#include "tools/modemsim/modem_model.h"

namespace modemsim {

// One modem and the state of the port it sits behind.
class SimulatedModem {
public:
    explicit SimulatedModem(ModemSettings settings = {});

    std::vector<std::string> commands() const;
    std::vector<ReceivedBlock> blocks() const;
    std::vector<ReceivedImage> images() const;
    ModemCounters counters() const;
    ModemMode mode() const;

    bool isOpen() const;
    bool isPulledOut() const;
    int openCount() const;     // successful opens so far
    int dtrDrops() const;
    uint32_t lastBaud() const;  // the baud rate of the latest open

    // The modem is pulled out: an open port fails from now on, later opens fail.
    void pullOut();
    // Changes the settings while running (e.g. go silent).
    template <class F>
    void changeSettings(F&& change)
    {
        std::lock_guard<platform::Mutex> lock(mutex_);
        change(model_.settings());
    }
    // Reads the model under its lock.
    template <class F>
    auto inspect(F&& look) const
    {
        std::lock_guard<platform::Mutex> lock(mutex_);
        return look(model_);
    }

    // The device side, used by the port device.
    bool tryOpen(uint32_t baud);
    void close();
    int read(uint8_t* buf, int n);
    int write(const uint8_t* buf, int n);
    void purge();
    bool waitReadable(uint32_t timeoutMs);
    void lowerDtr();

private:
    Micros now();

    mutable platform::Mutex mutex_;
    ModemModel model_;
    bool open_ = false;
    bool pulledOut_ = false;
    int openCount_ = 0;
    int dtrDrops_ = 0;
    uint32_t lastBaud_ = 0;
    uint32_t lastTicks_ = 0;
    Micros virtualMicros_ = 0;
    bool clockSeen_ = false;
};

class SimulatedPorts {
public:
    SimulatedPorts();
    ~SimulatedPorts();
    SimulatedPorts(const SimulatedPorts&) = delete;
    SimulatedPorts& operator=(const SimulatedPorts&) = delete;

    // Puts a modem behind the port ("COM3"); replaces one already there.
    SimulatedModem& add(const std::string& portName, ModemSettings settings = {});
    // The port disappears: an open device on it is gone, later opens fail.
    void remove(const std::string& portName);
    SimulatedModem* find(const std::string& portName);

private:
    std::unique_ptr<platform::PortDevice> open(const std::string& portName, uint32_t baud);

    platform::Mutex mutex_;
    std::vector<std::pair<std::string, std::shared_ptr<SimulatedModem>>> ports_;
};

}  // namespace modemsim
