// Why an upload failed, in words: the one place that turns a reason code and its detail into the
// text every display shows (`Tarvo32 upgrade` and `probe`, the production station), and that maps
// a probe's or a port's failure onto a reason. Also the advice shown after a run broken off once
// the modem was in upload mode.
// Results: texts without the port name and without a final full stop; callers put "COM3: " in
// front. An unknown code still gives a text.
// Thread rule: pure functions, safe from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "link/modem_probe.h"
#include "platform/serial_device.h"
#include "upload/upload_job.h"

// "block 17 refused four times (NAK)", "the port is busy (held by another program)", ...
std::string uploadReasonText(int32_t reason, const FailureDetail& detail);

// The reason of a port that would not open.
UploadReason reasonForOpenError(platform::PortOpenError error);
// The reason and detail of a probe that did not find the modem (ReasonNone when it did).
UploadReason reasonForProbe(const ProbeReport& report, FailureDetail& detail);

// True when a failed run had switched the modem to upload mode ("Y\r" answered its prompt), so it
// may be left without working firmware: from its reason, or from the furthest phase a display
// saw it reach.
bool modemMayLackFirmware(int32_t reason, int32_t furthestPhase);
// The advice for that case, two sentences.
constexpr const char* RecoveryAdvice =
    "The modem may be left without working firmware. Running the upgrade again starts from the "
    "modem's boot loader (kernel mode) and puts the firmware back.";
