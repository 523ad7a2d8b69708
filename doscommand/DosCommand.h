#pragma once

// The console process runner: runs one console program at a time with its
// standard streams on pipes, cuts its output into lines and reports them on
// a worker thread, can feed it input, gives up after optional time limits and
// reports the end of the run.

#include "base/Descriptors.h"
#include "base/Exceptions.h"

#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Platform {
class ChildProcess;
}

enum TOutputType {
    otEntireLine = 0,       // a complete line, the final unterminated text of a run, or an echoed input entry
    otBeginningOfLine = 1,  // the start of a line still growing; reported again whole later
};

using TNewLineEvent = std::function<void(QObject* Sender, std::string NewLine, TOutputType OutputType)>;
using TNotifyEvent = std::function<void(QObject* Sender)>;

// The program of a command line could not be started.
class TCreateProcessError : public Exception {
public:
    using Exception::Exception;
};

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
    void NoteLine();
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

class TDosCommand;

// The worker thread of one run. Its members are a snapshot taken at Start, so
// that changing the runner during a run has no effect on that run.
class TDosThread : public QThread {
    Q_OBJECT
public:
    TDosThread(TDosCommand* runner, std::string commandLine, std::vector<std::string>& capturedLines,
               std::vector<std::string>* mirror, TProcessTimer* timer, std::int32_t maxTimeAfterBeginning,
               std::int32_t maxTimeAfterLastOutput, TNewLineEvent onNewLine, TNotifyEvent onTerminated,
               std::uint32_t priorityClass, bool inputToOutput, std::string programFolder);
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
    void completeLine(std::string& line);
    void capture(const std::string& line);
    void reportPartial();
    void putInMirror(const std::string& text);
    void echo(const std::string& entry);
    void flush();
    void keep(std::exception_ptr failure);
    bool terminationRequested() const { return isInterruptionRequested(); }

    TDosCommand* runner;
    std::string commandLine;
    std::vector<std::string>& capturedLines;
    std::vector<std::string>* mirror;
    bool inputToOutput;
    TProcessTimer* timer;
    std::int32_t maxTimeAfterBeginning;
    std::int32_t maxTimeAfterLastOutput;
    TNewLineEvent onNewLine;
    TNotifyEvent onTerminated;
    std::uint32_t priorityClass;
    std::string programFolder;

    // The run's own state.
    std::vector<char> buffer;
    std::string PartialLine;
    std::size_t capturedText = 0;  // bytes in capturedLines
    bool PartialReported = false;
    bool outputOpen = true;   // false once every writer has gone and nothing is left
    std::string writing;      // bytes of the input entry being written
    std::size_t written = 0;  // how many of them are written
    std::string writingEntry;

    std::exception_ptr error;
    std::atomic<int> exitCode{-1};
    std::atomic<bool> ended{false};
};

// The runner. Use it from one thread (the window thread): Start, Shutdown and
// the timer's ticks belong there; callbacks run on the worker's thread with
// the runner as Sender.
class TDosCommand : public QObject {
    Q_OBJECT
public:
    explicit TDosCommand(QObject* owner);
    ~TDosCommand() override;  // Shutdown first

    // Published properties, read and written directly (no side effects).
    std::string CommandLine;
    TNewLineEvent OnNewLine;
    TNotifyEvent OnTerminated;
    bool InputToOutput = false;
    std::int32_t MaxTimeAfterBeginning = 0;   // seconds; below 1: no limit
    std::int32_t MaxTimeAfterLastOutput = 0;  // seconds; below 1: no limit
    std::uint32_t PriorityClass = 32;         // normal

    void Start();
    void Shutdown();

    // The complete lines of the last run, the most recent ones up to about
    // 16 MiB of text; not to be read during a run.
    const std::vector<std::string>& CapturedLines() const { return capturedLines; }
    // A second copy of the output kept by the caller, updated while a line
    // grows. Set before Start; nullptr detaches.
    void SetMirrorLines(std::vector<std::string>* mirror) { mirrorLines = mirror; }
    // Queues an entry for the program's standard input: a marker character,
    // then the text. The marker '_' sends the text followed by CR LF, any
    // other marker the text alone. An empty entry (no marker) is dropped; an
    // entry of any length is sent whole, over several passes when the pipe
    // cannot take it at once. Thread-safe; entries added between runs go to
    // the next run, entries still queued when a run ends are dropped.
    void AddInput(std::string entry);
    // The error kept from the last run (a program that could not be started,
    // a callback that threw); null otherwise. Read after the run has ended.
    std::exception_ptr FatalException() const;
    // How the last run's program ended: its exit code, or 128 plus the
    // signal that ended it, as shells tell it. Empty while it runs, when the
    // run did not see its end (a time limit) and when it never started.
    // Readable from any thread once OnTerminated has been called.
    std::optional<int> ExitCode() const;
    // Whether the worker's thread is still running.
    bool Running() const { return worker && !worker->Ended(); }

private:
    friend class TDosThread;

    // Entries waiting for the program's standard input.
    class InputQueue {
    public:
        void Add(std::string entry);
        bool TakeFirst(std::string& entry);
        void Clear();

    private:
        std::mutex mutex;
        std::deque<std::string> entries;
    };

    QObject* owner;
    std::vector<std::string> capturedLines;
    std::vector<std::string>* mirrorLines = nullptr;
    std::unique_ptr<TDosThread> worker;
    QPointer<TProcessTimer> timer;
    InputQueue inputQueue;
    Platform::WakeEvent wake;  // wakes the worker: termination, ticks, input
    std::exception_ptr lastError;
    int lastExitCode = -1;
};
