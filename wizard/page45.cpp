#include "wizard/page45.h"

#include "config/program_state.h"
#include "config/firmware_config.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/ui/sheet.h"
#include "platform/com_port_name.h"
#include "resources/dialogs.h"
#include "resources/icons.h"
#include "resources/texts.h"
#include "upload/upgrade_record.h"
#include "upload/upload_job.h"
#include "upload/upload_workers.h"
#include "wizard/wizard_state.h"

using namespace platform::ui;

namespace {
constexpr int WizardJob = 0;
}  // namespace

std::string versionValueText(const std::string& firmwareVersion, bool includeKernel)
{
    return includeKernel ? firmwareVersion + KernelIncludedText : firmwareVersion;
}

CPage45::CPage45() : Page(page45Template()), starter_(startWizardUpload) {}

bool CPage45::onInitDialog()
{
    setItemImage(IdcStatusLamp, IconLampIdle);
    setItemImage(IdcStep1, IconStepPending);
    setItemImage(IdcStep2, IconStepPending);
    setItemImage(IdcStep3, IconStepPending);
    setProgressRange(IdcProgressBar, 0, DonePercent);
    setProgressPos(IdcProgressBar, 0);
    setItemText(IdcProductValue, FirmwareConfig.Model_name);
    setItemText(IdcVersionValue,
                versionValueText(FirmwareConfig.Firmware_version, FirmwareConfig.Firmware_include_kernel));
    portNumber_ = platform::portNumberOf(CurrentModem.portName);
    // The worker opens the port itself; the search's handle must be gone first.
    if (CurrentModem.portHandle != NoPort) {
        closePort(CurrentModem.portHandle);
        CurrentModem.portHandle = NoPort;
    }
    setTimer(StartUploadTimerId, StartUploadDelayMs);
    return true;
}

bool CPage45::onSetActive()
{
    postWizardButtons(0);
    return Page::onSetActive();
}

void CPage45::onTimer(int timerId)
{
    if (timerId == StartUploadTimerId) {
        killTimer(StartUploadTimerId);
        start();
    } else if (timerId == PollTimerId) {
        if (finished_ == 0) {
            poll();
        } else {
            outcome();
        }
    }
}

void CPage45::start()
{
    if (portNumber_ <= 0) {
        return;
    }
    if (starter_) {
        starter_(portNumber_);
    }
    if (uploadJobs[WizardJob].threadHandle == nullptr) {
        return;
    }
    finished_ = 0;
    setTimer(PollTimerId, PollPeriodMs);
}

void CPage45::blinkLamp()
{
    UploadJob& job = uploadJobs[WizardJob];
    if (job.blink != 0) {
        setItemImage(IdcStatusLamp, IconLampBusyA);
        job.blink = 0;
    } else {
        setItemImage(IdcStatusLamp, IconLampBusyB);
        job.blink = 1;
    }
}

void CPage45::showSteps(int reached)
{
    setItemImage(IdcStep1, reached >= 1 ? IconStepDone : IconStepPending);
    setItemImage(IdcStep2, reached >= 2 ? IconStepDone : IconStepPending);
    setItemImage(IdcStep3, reached >= 3 ? IconStepDone : IconStepPending);
}

void CPage45::poll()
{
    UploadJob& job = uploadJobs[WizardJob];
    if (job.threadHandle == nullptr) {
        finished_ = 1;
        return;
    }
    int32_t phase = job.phase.load(std::memory_order_relaxed);
    if (phase >= Idle && phase <= StartingUpload) {
        blinkLamp();
        showSteps(1);
        setItemText(IdcPercent, PercentZeroText);
        setProgressPos(IdcProgressBar, 0);
    } else if (phase == AwaitingReceiver) {
        blinkLamp();
        showSteps(2);
        setItemText(IdcPercent, PercentZeroText);
        setProgressPos(IdcProgressBar, 0);
    } else if (phase == Transferring) {
        blinkLamp();
        showSteps(3);
    } else if (phase == Failed) {
        if (workerEnded(job)) {
            setItemImage(IdcStatusLamp, IconLampIdle);
        }
    }
    if (job.threadHandle != nullptr) {
        ProgressView view = pollProgress(job);
        if (view.totalBytes != 0) {
            if (view.allAcknowledged) {
                if (workerEnded(job)) {
                    setItemImage(IdcStatusLamp, IconLampDone);
                }
                setItemText(IdcPercent, percentText(AllAcknowledgedPercent));
                setProgressPos(IdcProgressBar, AllAcknowledgedPercent);
            } else if (view.changed) {
                setItemText(IdcPercent, percentText(view.percent));
                setProgressPos(IdcProgressBar, view.percent);
            }
        }
    }
    // A worker can end without every byte acknowledged being seen here (an empty image, or the
    // phase read just before its last write): it must still be collected, or the page would
    // poll for ever and the wizard never finish.
    if (job.threadHandle != nullptr) {
        workerEnded(job);
    }
}

bool CPage45::hasPageAfter() const
{
    const platform::ui::Sheet* owner = sheet();
    return owner != nullptr && owner->activeIndex() + 1 < owner->pageCount();
}

void CPage45::outcome()
{
    killTimer(PollTimerId);
    int32_t phase = uploadJobs[WizardJob].phase.load(std::memory_order_relaxed);
    // Said once, before the outcome: the upgrade itself went on without its record.
    std::string recordWarning = takeRecordWarning();
    if (!recordWarning.empty()) {
        messageBox(recordWarningSentence(recordWarning), MessageBoxIcon::Exclamation);
    }
    if (phase == Failed) {
        messageBox(UploadFailedText, MessageBoxIcon::Stop);
    } else if (phase == Succeeded) {
        setItemText(IdcPercent, percentText(DonePercent));
        setProgressPos(IdcProgressBar, DonePercent);
        messageBox(UploadSucceededText, MessageBoxIcon::Information);
        if (FirmwareConfig.Windows_ChgDrv_and_Reboot && OsFlavor.IsWin9x != 0) {
            messageBox(RemoveModemText, MessageBoxIcon::Exclamation);
            // Next brings up the driver-change page. A sheet without one behind this page would
            // leave the user on a finished page with nothing but Cancel: it finishes instead.
            if (hasPageAfter()) {
                postWizardButtons(WizBack);
                platform::sleepMs(PressButtonDelayMs);
                pressButton(SheetButton::Next);
                return;
            }
        }
    }
    postWizardButtons(WizBack);
    setFinishText(FinishButtonText);
    platform::sleepMs(PressButtonDelayMs);
    pressButton(SheetButton::Finish);
}

void CPage45::onDestroy()
{
    killTimer(PollTimerId);
    if (uploadJobs[WizardJob].threadHandle != nullptr) {
        killWorkers(WizardJob, WizardJob);
    }
}
