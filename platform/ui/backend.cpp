#include "platform/ui/backend.h"

#include <utility>

namespace platform::ui {

namespace {

BackendFactory& factory()
{
    static BackendFactory f;
    return f;
}

std::unique_ptr<Backend>& current()
{
    static std::unique_ptr<Backend> b;
    return b;
}

}  // namespace

void setBackendFactory(BackendFactory f)
{
    factory() = std::move(f);
}

void installBackend(std::unique_ptr<Backend> b)
{
    current() = std::move(b);
}

bool backendAvailable()
{
    return current() != nullptr || static_cast<bool>(factory());
}

Backend& backend()
{
    if (current() == nullptr && factory()) {
        current() = factory()();
    }
    return *current();
}

void postMessageFromAnyThread(WindowId window, const PostedMessage& message)
{
    // Only reads the pointer: the backend is made and replaced on the UI thread, before any
    // window exists for another thread to post to.
    if (Backend* b = current().get()) {
        b->postFromAnyThread(window, message);
    }
}

}  // namespace platform::ui
