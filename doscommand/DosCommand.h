#pragma once

// The console process runner: runs one console program at a time with its
// standard streams on pipes, cuts its output into lines and reports them on
// a worker thread, can feed it input, gives up after optional time limits and
// reports the end of the run.

#include "base/Exceptions.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

class KeptLines;
class TDosThread;
class TProcessTimer;
struct RunnerChannel;

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
    // 4 MiB of text; not to be read during a run.
    std::vector<std::string> CapturedLines() const;
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
    bool Running() const;

private:
    QObject* owner;
    std::unique_ptr<KeptLines> capturedLines;
    std::vector<std::string>* mirrorLines = nullptr;
    // What the worker of a run shares with the runner across threads.
    std::unique_ptr<RunnerChannel> channel;
    std::unique_ptr<TDosThread> worker;
    QPointer<TProcessTimer> timer;
    std::exception_ptr lastError;
    int lastExitCode = -1;
};
