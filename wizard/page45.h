// Upload progress page (CPage45): on its first display it closes the search's port and starts
// the wizard's upload worker on uploadJobs[0] (upload/upload_workers.h), then polls the record
// every 800 ms: the lamp blinks, three step squares follow the phase, the bar and the
// percentage follow the one progress rule. Two ticks after the worker ended it reports the
// outcome in a message box and ends the wizard by itself (or presses Next for the driver change).
// Destroying the page while the worker runs stops it (killWorkers: keepRunning cleared, joined).
// Thread rule: UI thread only; the worker shares nothing with the page but uploadJobs[0].
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/ui/window.h"

constexpr int StartUploadTimerId = 29;
constexpr uint32_t StartUploadDelayMs = 100;
constexpr int PollTimerId = 28;
constexpr uint32_t PollPeriodMs = 800;
constexpr uint32_t PressButtonDelayMs = 200;  // after the last message box, before the press
constexpr int AllAcknowledgedPercent = 99;
constexpr int DonePercent = 100;

class CPage45 : public platform::ui::Page {
public:
    CPage45();
    bool onSetActive() override;

    // Starts the worker for a port; startWizardUpload unless a test puts its own.
    using UploadStarter = std::function<void(int port)>;
    void setUploadStarter(UploadStarter starter) { starter_ = std::move(starter); }

    int32_t portNumber() const { return portNumber_; }
    bool finished() const { return finished_ != 0; }

protected:
    bool onInitDialog() override;
    void onTimer(int timerId) override;
    void onDestroy() override;

private:
    void start();
    void poll();
    bool hasPageAfter() const;
    void outcome();
    void blinkLamp();
    void showSteps(int reached);

    UploadStarter starter_;
    int32_t portNumber_ = 0;
    uint32_t finished_ = 0;
};

// The version line: Firmware_version, with " (Kernel included)" when the image has the kernel.
std::string versionValueText(const std::string& firmwareVersion, bool includeKernel);
