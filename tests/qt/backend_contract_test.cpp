// The window backends' contract (tests/support/backend_contract.h) on the Qt backend, on the
// offscreen platform.
#include "support/backend_contract.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTest>

#include "platform/qt/dialog_view.h"
#include "platform/qt/qt_backend.h"
#include "qt_application.h"

namespace {

struct QtTraits {
    static std::unique_ptr<platform::ui::Backend> make()
    {
        qttest::app();
        return std::make_unique<platform::qt::QtBackend>();
    }
    static void settle(platform::ui::Backend&) { QTest::qWait(1); }
    static void pressKey(platform::ui::Backend& ui, platform::ui::WindowId window, int controlId, platform::ui::Key key)
    {
        auto& qt = static_cast<platform::qt::QtBackend&>(ui);
        QWidget* target = qt.view(window)->control(controlId);
        QTest::keyClick(target, key == platform::ui::Key::Enter ? Qt::Key_Return : Qt::Key_Escape);
    }
};

}  // namespace

namespace contract {
INSTANTIATE_TYPED_TEST_SUITE_P(BackendContractQt, BackendContract, QtTraits);
}  // namespace contract
