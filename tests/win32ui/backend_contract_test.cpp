// The window backends' contract (tests/support/backend_contract.h) on the Win32 backend, run
// under Wine with a display.
#include "support/backend_contract.h"

#include "win32_traits.h"

namespace contract {
INSTANTIATE_TYPED_TEST_SUITE_P(BackendContractWin32, BackendContract, win32test::Win32Traits);
}  // namespace contract
