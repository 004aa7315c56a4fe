#include "upload/upload_reason.h"

#include <cstdio>

#include "upload/upload_engine.h"

namespace {

std::string imageName(const FailureDetail& detail)
{
    return std::string(detail.number == 0 ? "the firmware image " : "the fix image ") + detail.subject;
}

// Lines from the modem are shown as received, but without what would steer a terminal.
std::string shown(const std::string& line)
{
    std::string out;
    for (char c : line) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::string blockAnswer(const std::string& answer) { return answer.empty() ? "no answer" : answer; }

}  // namespace

std::string uploadReasonText(int32_t reason, const FailureDetail& detail)
{
    const std::string number = std::to_string(detail.number);
    switch (reason) {
    case ReasonNone: return "the upload did not complete";
    case ReasonPortNoEntry: return "no such port (it has no entry)";
    case ReasonPortNoDevice: return "the port's device is not there (is the modem plugged in?)";
    case ReasonPortBusy: return "the port is busy (held by another program)";
    case ReasonPortDenied: return "permission denied on the port's device";
    case ReasonPortNotSerial: return "the port's entry is not a serial device";
    case ReasonPortOpenFailed: return "the port could not be opened";
    case ReasonNoAnswer: return "no answer to the probe (no modem, or it is switched off)";
    case ReasonAnsweredLate: return "the modem answered too late";
    case ReasonOtherMaker:
        return detail.subject.empty() ? "a modem answered but did not identify as one of the maker's (ATI9)"
                                      : "a modem of another maker answered (ATI9: " + shown(detail.subject) + ")";
    case ReasonOtherProduct:
        return detail.subject.empty() ? "a modem answered but did not name this product (ATI1)"
                                      : "a modem of another product answered (ATI1: " + shown(detail.subject) + ")";
    case ReasonVersionRefused:
        if (detail.subject.empty()) {
            return "the version check found no firmware version in the modem's answer";
        }
        return "the version check refused the modem's firmware " + shown(detail.subject) + " (it must be " +
               (detail.number ? "at most " : "above ") + detail.answer + ")";
    case ReasonCommandNotAt:
        return "pre-upload command " + number + " (" + shown(detail.subject) + ") does not begin with AT";
    case ReasonCommandRefused:
        return "pre-upload command " + number + " (" + shown(detail.subject) + ") was not answered OK (" +
               (detail.answer.empty() ? "no answer" : shown(detail.answer)) + ")";
    case ReasonImageMissing: return imageName(detail) + " does not exist";
    case ReasonImageUnreadable: return imageName(detail) + " cannot be read";
    case ReasonImageNotRegular: return imageName(detail) + " is not a regular file";
    case ReasonImageEmpty: return imageName(detail) + " is empty";
    case ReasonImageTooLarge:
        return imageName(detail) + " is larger than " + std::to_string(MaxImageBytes / (1024 * 1024)) + " MiB";
    case ReasonImageIsIni:
        return imageName(detail) + " is the configuration file itself (name the image in its INFO section)";
    case ReasonNoPrompt: return "no upload prompt after " + shown(detail.subject);
    case ReasonNoNak:
        return "the modem did not ask for the first block within " + std::to_string(FirstNakWaitMs / 1000) +
               " s (no NAK)";
    case ReasonBlockRefused:
        static_assert(BlockTransmissions == 4, "the text counts the transmissions in words");
        return "block " + number + " refused four times (" + blockAnswer(detail.answer) + ")";
    case ReasonPortLost: return "the port was lost (the modem was pulled out or switched off)";
    case ReasonStopped: return "stopped by the user";
    case ReasonPulledOut: return "the modem was pulled out (its USB device was removed)";
    default: return "failed (reason " + std::to_string(reason) + ")";
    }
}

UploadReason reasonForOpenError(platform::PortOpenError error)
{
    switch (error) {
    case platform::PortOpenError::NoEntry: return ReasonPortNoEntry;
    case platform::PortOpenError::NoDevice: return ReasonPortNoDevice;
    case platform::PortOpenError::Busy: return ReasonPortBusy;
    case platform::PortOpenError::Denied: return ReasonPortDenied;
    case platform::PortOpenError::NotSerial: return ReasonPortNotSerial;
    case platform::PortOpenError::None:
    case platform::PortOpenError::Failed: break;
    }
    return ReasonPortOpenFailed;
}

UploadReason reasonForProbe(const ProbeReport& report, FailureDetail& detail)
{
    detail = FailureDetail{};
    switch (report.result) {
    case ProbeResult::Found: return ReasonNone;
    case ProbeResult::NotOpened: return reasonForOpenError(report.openError);
    case ProbeResult::NoAnswer: return ReasonNoAnswer;
    case ProbeResult::AnsweredLate: return ReasonAnsweredLate;
    case ProbeResult::OtherMaker: detail.subject = report.answer; return ReasonOtherMaker;
    case ProbeResult::OtherProduct: detail.subject = report.answer; return ReasonOtherProduct;
    }
    return ReasonNoAnswer;
}

bool modemMayLackFirmware(int32_t reason, int32_t furthestPhase)
{
    if (reason == ReasonNoNak || reason == ReasonBlockRefused) {
        return true;
    }
    return furthestPhase >= AwaitingReceiver && furthestPhase <= Transferring;
}
