#pragma once

#include "base/Descriptors.h"

#include <QObject>

#include <csignal>
#include <functional>

class QSocketNotifier;

// The desktop's ways of asking a program to end: TERM (logging out), HUP (the
// terminal it was started from closing) and INT (Ctrl+C there). While an
// object of this class lives, each of them is handed to `onSignal` on the
// window thread, from its event loop or any loop nested in it (a modal box,
// the conversion's wait), instead of ending the program on the spot. A
// signal the program was started ignoring (nohup, a background job) stays
// ignored.
class TEndSignals : public QObject {
public:
    explicit TEndSignals(std::function<void(int signal)> onSignal);
    ~TEndSignals() override;  // the signals' earlier handling comes back
    TEndSignals(const TEndSignals&) = delete;
    TEndSignals& operator=(const TEndSignals&) = delete;

    // Ends the program as the signal would have ended it, so that whoever
    // started it sees the usual status for that signal.
    [[noreturn]] static void EndBySignal(int signal);

private:
    void takeSignals();

    std::function<void(int)> onSignal;
    Platform::Pipe pipe;
    QSocketNotifier* notifier;
    struct sigaction previous[3]{};
};
