// The wizard frame, Sheet (CPropertySheet in wizard mode): pages (window.h) in a fixed order,
// one shown at a time, Back / Next / Finish / Cancel / Help, the wizard button requests the pages
// post and send, and the end of the run. Its rules are those of window.h.
// Thread rule: UI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/backend.h"
#include "platform/ui/window.h"

namespace platform::ui {

// The wizard frame (CPropertySheet in wizard mode): pages in a fixed order, one shown at a time.
class Sheet : protected WindowEvents {
public:
    Sheet();
    ~Sheet() override;
    Sheet(const Sheet&) = delete;
    Sheet& operator=(const Sheet&) = delete;

    // Pages are added before the run and never removed; the sheet does not own them.
    void addPage(Page* page);
    // Forgets the pages (closing the sheet first if it is open), e.g. before they are destroyed.
    void clearPages();
    int pageCount() const { return static_cast<int>(pages_.size()); }
    Page* page(int index) const;
    int activeIndex() const { return active_; }
    Page* activePage() const { return page(active_); }

    // Creates the frame, shows the first page and runs modally until Finish, Cancel or the
    // close box; then destroys the pages' windows and the frame. SheetFinished or SheetCancelled.
    int runModal();

    // For tests that drive the sheet event by event: create the frame and show the first page
    // (no modal loop). The sheet then closes itself on Finish / Cancel once the running handler
    // has returned. close() destroys everything at once.
    void open();
    void close();
    bool isOpen() const { return frame_ != NoWindow; }
    // Finish, Cancel or the close box happened; the frame goes away when the running handler
    // returns.
    bool isEnding() const { return ending_; }
    int result() const { return result_; }
    WindowId handle() const { return frame_; }

    // Posted and sent requests (see Page).
    void post(const PostedMessage& message);
    void setFinishText(const std::string& text);
    void pressButton(SheetButton button);

    const WizardButtonsView& buttons() const { return buttons_; }

protected:
    // The help entry point (Help on any page); the default does nothing.
    virtual void winHelp(uint32_t data, uint32_t command);

    void windowTimer(int) override {}
    void windowCommand(int, Notification) override {}
    void windowPosted(const PostedMessage& message) override;
    bool windowKey(int, Key) override { return false; }
    void windowClose() override;
    void wizardButton(WizardButton button) override;

private:
    void setActive(int index);
    void goBy(int step);
    void end(int result);
    void applyWizButtons(uint32_t flags);

    std::vector<Page*> pages_;
    WindowId frame_ = NoWindow;
    int active_ = -1;
    bool modal_ = false;
    bool ending_ = false;
    int result_ = SheetCancelled;
    bool hasFinishText_ = false;  // PSM_SETFINISHTEXT was sent: Back and Next stay hidden
    WizardButtonsView buttons_;
};

}  // namespace platform::ui
