#include "wizard/wizard_state.h"

// Empty from the start: no port, no flags, as resetIdentity leaves it.
ModemIdentity CurrentModem{};
