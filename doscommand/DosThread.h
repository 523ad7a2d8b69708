#pragma once

// The runner's inside: the worker thread of one run and the timer of the
// time limits. Owners use DosCommand.h alone.

#include "doscommand/DosCommand.h"
#include "base/Descriptors.h"

#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace Platform {
class ChildProcess;
}

// Counts one-second ticks for the time limits. It ticks on the thread that
// created it; the worker reads and resets the counters from its own thread.
class TProcessTimer : public QTimer {
    Q_OBJECT
public:
    explicit TProcessTimer(QObject* owner);

    std::atomic<std::int32_t> SecondsSinceStart{0};
    std::atomic<std::int32_t> SecondsSinceLastLine{0};

    void Tick();
    void Restart();
    // Once per line: no ordering is needed, only a whole value.
    void NoteLine() { SecondsSinceLastLine.store(0, std::memory_order_relaxed); }
    // Safe from any thread. From another thread the timer itself stops at its
    // next tick, which then counts nothing.
    void StopCounting();

    // Signalled after every counted tick, so that a waiting worker compares
    // its limits at once.
    void SetWakeEvent(const Platform::WakeEvent* event) { wake = event; }

private:
    std::atomic<bool> counting{false};
    const Platform::WakeEvent* wake = nullptr;
};

// What the runner and the worker of its run share across their threads: the
// entries waiting for the program's standard input, and the event that wakes
// the worker (termination request, timer tick, queued input).
struct RunnerChannel {
    class InputQueue {
    public:
        void Add(std::string entry);
        bool TakeFirst(std::string& entry);
        void Clear();

    private:
        std::mutex mutex;
        std::deque<std::string> entries;
    };

    InputQueue inputQueue;
    Platform::WakeEvent wake;
};

// The worker thread of one run.
class TDosThread : public QThread {
    Q_OBJECT
public:
    // Taken at Start, so that changing the runner during a run has no effect
    // on that run.
    struct Snapshot {
        TDosCommand* runner;  // Sender of both callbacks
        std::string CommandLine;
        KeptLines& capturedLines;  // the runner's, shared
        std::vector<std::string>* mirror;
        bool InputToOutput;
        TProcessTimer* timer;  // the runner's, shared
        std::int32_t MaxTimeAfterBeginning;
        std::int32_t MaxTimeAfterLastOutput;
        TNewLineEvent OnNewLine;
        TNotifyEvent OnTerminated;
        std::uint32_t PriorityClass;
        RunnerChannel& channel;
        std::string programFolder;  // where a program is looked for first
    };

    explicit TDosThread(Snapshot snapshot);
    ~TDosThread() override;

    // Asks the run to end: the program is killed and the run ends as usual.
    void RequestTermination();
    // Waits for the thread's end; after it everything the run wrote is seen.
    void WaitForEnd();
    // Whether the run is over: callbacks done, every descriptor closed.
    bool Ended() const { return ended.load(std::memory_order_acquire); }
    // The error that ended the run early, if any; read once Ended().
    std::exception_ptr Error() const { return error; }
    // See TDosCommand::ExitCode; -1 for none.
    int ExitCode() const { return exitCode.load(); }

protected:
    void run() override;

private:
    void execute();
    Platform::ChildProcess startProgram(int input, int output);
    void pollingLoop(Platform::ChildProcess& child, int outputPipe, int inputPipe);
    void waitForChange(Platform::ChildProcess& child, int outputPipe, int inputPipe);
    void outputStep(int outputPipe, int available);
    void inputStep(int inputPipe);
    void completeLine(std::string_view line);
    void reportPartial();
    void putInMirror(std::string_view text)
    {
        if (snapshot.mirror)
            updateMirror(text);
    }
    void updateMirror(std::string_view text);
    void echo(const std::string& entry);
    void flush();
    void keep(std::exception_ptr failure);
    // Asked before every stretch of output: a plain flag is cheaper than
    // the thread's own interruption request.
    bool terminationRequested() const { return terminationRequest.load(std::memory_order_relaxed); }

    const Snapshot snapshot;

    // The run's own state.
    std::vector<char> buffer;
    std::string PartialLine;
    bool PartialReported = false;
    bool outputOpen = true;   // false once every writer has gone and nothing is left
    std::string writing;      // bytes of the input entry being written
    std::size_t written = 0;  // how many of them are written
    std::string writingEntry;

    std::atomic<bool> terminationRequest{false};
    std::exception_ptr error;
    std::atomic<int> exitCode{-1};
    std::atomic<bool> ended{false};
};
