#include "app/startup.h"

#include "config/firmware_config.h"
#include "platform/executable_path.h"
#include "platform/windows_version.h"

void initialiseProgramState()
{
    OsFlavor = detectOsFlavor(platform::windowsVersion());
    ProgramDirectory = programDirectoryOf(platform::executablePath());
    RebootRequested = 0;
    loadFirmwareConfig(ProgramDirectory);
}
