#include "platform/EndSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGHUP, SIGINT};

// The one thing a signal handler may reach: where it writes the signal.
std::atomic<int> signalPipe{-1};

void noteSignal(int signal)
{
    const int savedError = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // A full pipe already holds a request to end: nothing is lost.
    [[maybe_unused]] const auto written = ::write(signalPipe.load(), &number, 1);
    errno = savedError;
}

}  // namespace

TEndSignals::TEndSignals(std::function<void(int)> onSignal)
    : onSignal(std::move(onSignal)), pipe(Platform::CreatePipe())
{
    Platform::MakeNonBlocking(pipe.ReadEnd.Get());
    Platform::MakeNonBlocking(pipe.WriteEnd.Get());
    notifier = new QSocketNotifier(pipe.ReadEnd.Get(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TEndSignals::takeSignals);
    signalPipe.store(pipe.WriteEnd.Get());

    struct sigaction handling {};
    handling.sa_handler = noteSignal;
    sigemptyset(&handling.sa_mask);
    handling.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) {
        ::sigaction(kEndSignals[i], nullptr, &previous[i]);
        if (previous[i].sa_handler != SIG_IGN)
            ::sigaction(kEndSignals[i], &handling, nullptr);
    }
}

TEndSignals::~TEndSignals()
{
    for (int i = 0; i < 3; ++i)
        ::sigaction(kEndSignals[i], &previous[i], nullptr);
    signalPipe.store(-1);
}

void TEndSignals::takeSignals()
{
    unsigned char number = 0;
    while (::read(pipe.ReadEnd.Get(), &number, 1) == 1)
        onSignal(number);
}

void TEndSignals::EndBySignal(int signal)
{
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    ::sigaction(signal, &byDefault, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    // Only a signal whose default is not to end a program gets here.
    std::_Exit(128 + signal);
}
