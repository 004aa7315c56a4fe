// Welcome page (CPage00): names the product and the target version and lets the user go on.
// It keeps no state and talks to no modem.
// Thread rule: UI thread only.
#pragma once

#include <string>

#include "platform/ui/window.h"

class CPage00 : public platform::ui::Page {
public:
    CPage00();
    bool onSetActive() override;
    bool onKillActive() override;

protected:
    bool onInitDialog() override;
};

// The welcome text for a model name and a firmware version.
std::string welcomeText(const std::string& modelName, const std::string& firmwareVersion);
