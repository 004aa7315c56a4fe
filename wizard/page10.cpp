#include "wizard/page10.h"

#include "config/firmware_config.h"
#include "link/modem_probe.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/com_port_name.h"
#include "platform/ui/sheet.h"
#include "resources/dialogs.h"
#include "resources/texts.h"
#include "wizard/wizard_state.h"

using namespace platform::ui;

CPage10::CPage10() : Page(page10Template()), modemList_(*this, IdcModemList) {}

bool CPage10::onInitDialog()
{
    resetIdentity(CurrentModem);
    CurrentModem.flags = 0;
    CurrentModem.speedCode = DefaultSpeedCode;
    portNumberText_.clear();
    portText_ = CurrentModem.portName;
    setTimer(SearchTimerId, SearchDelayMs);
    return true;
}

bool CPage10::onSetActive()
{
    postWizardButtons(0);
    postWizardButtons(WizBack);
    if (!firstVisit_) {
        portNumberText_.clear();
        portText_ = CurrentModem.portName;
        enableItem(IdcComLabel, false);
        enableItem(IdcPortNumber, false);
        checkItem(IdcOthers, false);
        setTimer(SearchTimerId, SearchDelayMs);
    }
    // The framework puts the members back into the controls on every activation but the first.
    if (activatedBefore_) {
        writeControls();
    }
    activatedBefore_ = true;
    return Page::onSetActive();
}

bool CPage10::onKillActive()
{
    firstVisit_ = false;
    // A search or a typed-port probe still waiting on its timer belongs to this page being
    // shown; it must not run under another page.
    killTimer(SearchTimerId);
    killTimer(TypedPortTimerId);
    killTimer(ProbeMessageTimerId);
    readControls();
    return Page::onKillActive();
}

void CPage10::readControls()
{
    portNumberText_ = itemText(IdcPortNumber).substr(0, PortNumberLimit);
}

void CPage10::writeControls()
{
    setItemText(IdcPortNumber, portNumberText_);
}

void CPage10::setStatus(const std::string& text)
{
    setItemText(IdcStatusLine, text);
}

void CPage10::onTimer(int timerId)
{
    switch (timerId) {
    case SearchTimerId:
        killTimer(SearchTimerId);
        if (!searching_ && !probing_) {
            searchAllPorts();
        }
        break;
    case TypedPortTimerId:
        killTimer(TypedPortTimerId);
        if (!searching_ && !probing_) {
            tryTypedPort();
        }
        break;
    case ProbeMessageTimerId:
        killTimer(ProbeMessageTimerId);
        postMessage(ProbeMessage);
        break;
    default:
        break;
    }
}

void CPage10::onUserMessage(const PostedMessage& message)
{
    if (message.message != ProbeMessage) {
        return;
    }
    // The search owns CurrentModem while it runs, and a page no longer shown probes nothing.
    if (searching_ || probing_ || sheet() == nullptr || sheet()->activePage() != this) {
        return;
    }
    probeCurrentPort();
}

void CPage10::onCommand(int controlId, Notification code)
{
    if (controlId == IdcOthers && code == Notification::Clicked) {
        if (searching_ || probing_) {
            checkItem(IdcOthers, false);
            return;
        }
        othersChosen();
    } else if (controlId == IdcModemList && code == Notification::SelectionChanged) {
        if (searching_ || probing_) {
            modemList_.setCurSel(-1);
            return;
        }
        listSelection();
    }
}

bool CPage10::preTranslateKey(int controlId, Key key)
{
    if (controlId == IdcPortNumber && key == Key::Enter) {
        // Consumed, so the wizard's default button (Next) is not pressed as well.
        setTimer(TypedPortTimerId, TypedPortDelayMs);
        return true;
    }
    return false;
}

void CPage10::prepareProbe(const std::string& portName)
{
    if (CurrentModem.portHandle != NoPort) {
        closePort(CurrentModem.portHandle);
        CurrentModem.portHandle = NoPort;
    }
    resetIdentity(CurrentModem);
    CurrentModem.flags = 0;
    CurrentModem.portName = portName;
    CurrentModem.speedCode = DefaultSpeedCode;
    portText_ = CurrentModem.portName;
    setStatus(StatusTryToOpen + CurrentModem.portName);
}

void CPage10::searchAllPorts()
{
    searching_ = true;
    modemList_.resetContent();
    for (int n = FirstSearchPort; n <= LastSearchPort; ++n) {
        std::string candidate = platform::comPortName(n);
        modemFound_ = false;
        prepareProbe(candidate);
        if (!probeCurrentPort()) {
            searching_ = false;
            return;  // the wizard is closing
        }
        if (modemFound_) {
            int index = modemList_.addString(FirmwareConfig.Model_name + ListItemJoin + std::to_string(n));
            modemList_.setItemData(index, n);
        }
        // One pending message between two ports keeps the window alive. When the wizard is
        // closing the search stops here, the probe that ran being the last one.
        if (pumpOneMessage() == PumpOutcome::Closing) {
            searching_ = false;
            return;
        }
    }
    searching_ = false;
    int count = modemList_.count();
    if (count < 0) {
        return;
    }
    setStatus(count > 0 ? StatusPleaseSelect : StatusNoneFound);
}

bool CPage10::probeCurrentPort()
{
    // Restored however the probe ends.
    WaitCursor wait;
    // A probe of a silent port waits seconds on this thread. Its waits take one pending message
    // every WaitPumpMs, so Cancel and the close box are seen within that time, and end the
    // probe's waits at once; every other action is refused while the probe runs (probing_).
    probing_ = true;
    platform::Ticks lastPump = platform::tickCount();
    ScopedWaitWatch watch([this, &lastPump] {
        if (platform::elapsedSince(lastPump) < WaitPumpMs) {
            return true;
        }
        lastPump = platform::tickCount();
        return pumpOneMessage() != PumpOutcome::Closing;
    });
    SerialPort found = probePort(CurrentModem, DefaultSpeedCode);
    if (watch.givenUp()) {
        if (found != NoPort) {
            closePort(found);
            CurrentModem.portHandle = NoPort;
        }
        probing_ = false;
        modemFound_ = false;
        return false;
    }
    if (found == NoPort) {
        probing_ = false;
        modemFound_ = false;
        postWizardButtons(WizBack);
        setStatus(StatusNotFoundHead + FirmwareConfig.Company_short_name + StatusNotFoundTail + portText_);
        return true;
    }
    modemFound_ = true;
    postWizardButtons(WizBack | WizNext);
    portText_ = CurrentModem.portName;
    setStatus(StatusFoundHead + FirmwareConfig.Company_short_name + StatusFoundTail + CurrentModem.portName);
    if ((CurrentModem.flags & IdentityKernelMode) != 0) {
        CurrentModem.flags = kernelFollowUp(CurrentModem.portHandle, CurrentModem.flags);
        setStatus(StatusFoundHead + FirmwareConfig.Company_short_name + StatusFoundKernelTail +
                  CurrentModem.portName);
    } else {
        CurrentModem.flags = ati1FollowUp(CurrentModem.portHandle, CurrentModem.flags);
    }
    probing_ = false;
    return !watch.givenUp();
}

void CPage10::othersChosen()
{
    modemList_.setCurSel(-1);
    postWizardButtons(WizBack);
    checkItem(IdcOthers, true);
    portNumberText_.clear();
    setItemText(IdcPortNumber, "");
    enableItem(IdcComLabel, true);
    enableItem(IdcPortNumber, true);
    portText_ = platform::ComPortPrefix + portNumberText_;
    setStatus(StatusInputPort);
}

void CPage10::tryTypedPort()
{
    readControls();
    portText_ = platform::ComPortPrefix + portNumberText_;
    tryPort(portText_);
}

void CPage10::tryPort(const std::string& portName)
{
    prepareProbe(portName);
    setTimer(ProbeMessageTimerId, ProbeMessageDelayMs);
}

void CPage10::listSelection()
{
    int selected = modemList_.curSel();
    if (selected < 0) {
        return;
    }
    portNumberText_.clear();
    enableItem(IdcComLabel, false);
    enableItem(IdcPortNumber, false);
    checkItem(IdcOthers, false);
    CurrentModem.portName = platform::comPortName(static_cast<int>(modemList_.itemData(selected)));
    setStatus(StatusYouSelect + CurrentModem.portName);
    postWizardButtons(WizBack | WizNext);
}
