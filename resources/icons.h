// Ids of the program's pictures: the six 32 x 32 state icons shared by the upload page and the
// production dialog, the application icon and the wizard's side picture. Windows and templates
// name a picture only by its id; each window backend draws them (platform/qt uses the drawings
// kept in resources/icons/).
// Thread rule: constants only.
#pragma once

#include <cstdint>

constexpr int32_t NoImage = 0;
constexpr int32_t IconApplication = 128;
constexpr int32_t IconLampIdle = 131;     // dark-blue lamp: before the start, after a failure
constexpr int32_t IconLampDone = 132;     // green lamp: every byte acknowledged, worker ended
constexpr int32_t IconLampBusyA = 133;    // red lamp: busy, alternating with B
constexpr int32_t IconLampBusyB = 134;    // cyan lamp: busy, alternating with A
constexpr int32_t IconStepDone = 135;     // yellow square: step reached
constexpr int32_t IconStepPending = 136;  // grey square: step still ahead
constexpr int32_t BitmapWizardPicture = 140;  // side picture of the welcome and search pages
