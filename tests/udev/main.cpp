// The device tree's tests run under umockdev's preload, which fakes /sys, /dev and udev's event
// socket for the whole process. Started without it (from ctest or by hand), the program starts
// itself again with the preload in place. ASan's runtime wants to be first in the library list
// and the preload comes before it; the check is turned off for this program only. Under
// ThreadSanitizer one race inside libudev is not ours (below).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* Preload = "libumockdev-preload.so.0";
constexpr const char* Restarted = "TARVO_UDEV_TESTS_PRELOADED";
constexpr const char* AsanLinkOrder = "verify_asan_link_order=0";

std::string environmentText(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

// Races ThreadSanitizer sees that are not ours. umockdev's own worker thread and the test bed's
// calls synchronise through GLib's locks, which it cannot see. libudev fills one hash key shared by all its
// contexts on first use, without a lock, and here the test bed's calls on the test's thread meet
// the station's listener there (the program itself uses libudev from its listener only once the
// registration on the UI thread is done). And umockdev opens and closes its event sockets beneath
// the sanitizer's interceptors, so a descriptor number it let go and the listener got next looks
// shared.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libudev.so\nrace:libumockdev.so\nrace:libglib-2.0.so\n";
}

int main(int argc, char** argv)
{
    std::string preload = environmentText("LD_PRELOAD");
    if (preload.find(Preload) == std::string::npos) {
        if (!environmentText(Restarted).empty()) {
            std::fprintf(stderr, "tarvo_udev_tests: %s could not be preloaded\n", Preload);
            return 1;
        }
        setenv(Restarted, "1", 1);
        setenv("LD_PRELOAD", (std::string(Preload) + (preload.empty() ? "" : ":" + preload)).c_str(), 1);
        std::string asan = environmentText("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", (asan.empty() ? AsanLinkOrder : asan + ":" + AsanLinkOrder).c_str(), 1);
        execv("/proc/self/exe", argv);
        std::perror("tarvo_udev_tests: cannot start again with the preload");
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
