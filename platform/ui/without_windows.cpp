// installWindowBackend for a program built without a window backend: nothing is installed, so
// backendAvailable() stays false and the wizard says there is no window system to show it on.
// The command line works as ever.
#include "platform/ui/backend.h"

namespace platform::ui {

bool installWindowBackend(int /*argc*/, char** /*argv*/)
{
    return true;
}

}  // namespace platform::ui
