// Inside the window layer only (window.cpp, sheet.cpp): the depth of running handlers and the
// sheets waiting to close once no handler runs. Every event handler of a Window or a Sheet runs
// inside a Dispatch, so the layer can tell a nested event (taken by a pump or a modal loop inside
// another handler) from a top-level one (dispatchDepth, window.h).
// Thread rule: UI thread only.
#pragma once

namespace platform::ui {

class Sheet;

class Dispatch {
public:
    Dispatch();
    ~Dispatch();  // closes the sheets waiting for the last handler to return
    Dispatch(const Dispatch&) = delete;
    Dispatch& operator=(const Dispatch&) = delete;
};

// A sheet ended outside a modal loop: closed as soon as no handler runs (at once when none does).
void closeSheetWhenIdle(Sheet* sheet);
// A sheet going away (or closed) is no longer waited for.
void forgetSheet(Sheet* sheet);

}  // namespace platform::ui
