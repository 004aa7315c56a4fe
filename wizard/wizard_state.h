// The state the wizard pages share with one another and with the exit steps: CurrentModem, the
// port the user chose on the search page and what the last probe learned about it. Record 0 of
// uploadJobs (upload/upload_job.h) is the wizard's upload.
// Thread rule: UI thread only.
#pragma once

#include "link/modem_probe.h"

extern ModemIdentity CurrentModem;
