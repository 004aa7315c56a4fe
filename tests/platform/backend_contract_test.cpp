// The window backends' contract (tests/support/backend_contract.h) on the headless backend; the
// Qt backend runs the same suite in tests/qt.
#include "support/backend_contract.h"

#include "support/headless_backend.h"

namespace {

struct HeadlessTraits {
    static std::unique_ptr<platform::ui::Backend> make() { return std::make_unique<platform::ui::HeadlessBackend>(); }
    static void settle(platform::ui::Backend& ui) { static_cast<platform::ui::HeadlessBackend&>(ui).dispatchPosted(); }
    static void pressKey(platform::ui::Backend& ui, platform::ui::WindowId window, int controlId, platform::ui::Key key)
    {
        static_cast<platform::ui::HeadlessBackend&>(ui).pressKey(window, controlId, key);
    }
};

}  // namespace

namespace contract {
INSTANTIATE_TYPED_TEST_SUITE_P(BackendContractHeadless, BackendContract, HeadlessTraits);
}  // namespace contract
