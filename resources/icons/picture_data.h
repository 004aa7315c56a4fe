// The program's pictures as XPM text, written by draw_pictures.py: six 32 x 32 state icons, the
// 32 x 32 application icon and the 69 x 150 wizard side picture. Colours are "#RRGGBB" or
// "None" (transparent), one character per pixel. Read them through resources/icons/pictures.h.
// Thread rule: constant data, safe from any thread.
#pragma once

namespace resources {

extern const char* const LampIdleXpm[];
extern const char* const LampDoneXpm[];
extern const char* const LampBusyAXpm[];
extern const char* const LampBusyBXpm[];
extern const char* const StepDoneXpm[];
extern const char* const StepPendingXpm[];
extern const char* const ApplicationXpm[];
extern const char* const WizardPictureXpm[];

}  // namespace resources
