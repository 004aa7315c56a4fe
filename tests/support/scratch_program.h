// The program's start-up state for one test: a temporary delivery folder as ProgramDirectory, a
// scratch TARVO_HOST (scratch.h), and FirmwareConfig, ProgramDirectory and OsFlavor as they were
// before put back when the object goes. The fixtures of the upload and wizard tests build on it.
// Thread rule: the test's thread, with no worker running when it is made or goes.
#pragma once

#include <string>

#include "config/firmware_config.h"
#include "config/program_state.h"
#include "support/scratch.h"

namespace scratch {

class ScratchProgram {
public:
    ScratchProgram() { ProgramDirectory = delivery_.dir(); }
    ~ScratchProgram()
    {
        FirmwareConfig = savedConfig_;
        ProgramDirectory = savedDirectory_;
        OsFlavor = savedOs_;
    }
    ScratchProgram(const ScratchProgram&) = delete;
    ScratchProgram& operator=(const ScratchProgram&) = delete;

    // The delivery folder without its final separator ("" when it could not be made).
    const std::string& path() const { return delivery_.path(); }
    const ScratchHost& host() const { return host_; }

private:
    FirmwareConfigRecord savedConfig_ = FirmwareConfig;
    std::string savedDirectory_ = ProgramDirectory;
    OsFlavorRecord savedOs_ = OsFlavor;
    TempDir delivery_;
    ScratchHost host_;
};

}  // namespace scratch
