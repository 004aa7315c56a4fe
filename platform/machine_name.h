// This machine's name (GetComputerNameA's role), for the upgrade record: which station wrote a
// record when several share one record file's readers.
// Results: the name, or empty when the system will not say.
// Thread rule: safe from any thread.
#pragma once

#include <string>

namespace platform {

std::string machineName();

}  // namespace platform
