// Ctrl-C and SIGTERM for the commands that run upload workers: while an InterruptWatch lives, the
// two signals only set a flag, which the command's loop reads and passes on to its workers by
// clearing keepRunning; the run then ends through its normal end (ports and files closed).
// Thread rule: the command's main thread creates and reads it; the handler runs on any thread.
#pragma once

#include <csignal>

class InterruptWatch {
public:
    InterruptWatch();     // installs the handlers, clears the flag
    ~InterruptWatch();    // puts the previous handlers back
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    bool requested() const;

private:
    void (*previousInt_)(int) = SIG_DFL;
    void (*previousTerm_)(int) = SIG_DFL;
};
