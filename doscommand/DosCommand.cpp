#include "doscommand/DosCommand.h"

#include "doscommand/DosThread.h"
#include "doscommand/KeptLines.h"
#include "doscommand/LineSplitter.h"
#include "base/ChildProcess.h"
#include "base/CommandLine.h"
#include "platform/ProgramFolder.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr std::size_t kInitialBufferSize = 1024;

// The complete lines kept of one run are the most recent ones, up to about
// this much text: the list is for looking at what a program said, and a
// program that floods its output must not take the memory with it.
constexpr std::size_t kMaxCapturedText = 4 * 1024 * 1024;

}  // namespace

// ---------------------------------------------------------------------------
// TProcessTimer

TProcessTimer::TProcessTimer(QObject* owner) : QTimer(owner)
{
    connect(this, &QTimer::timeout, this, &TProcessTimer::Tick);
}

void TProcessTimer::Tick()
{
    if (!counting.load()) {
        stop();
        return;
    }
    SecondsSinceStart.fetch_add(1);
    SecondsSinceLastLine.fetch_add(1);
    if (wake)
        wake->Signal();
}

void TProcessTimer::Restart()
{
    setInterval(1000);
    SecondsSinceStart.store(0);
    SecondsSinceLastLine.store(0);
    counting.store(true);
    start();
}

void TProcessTimer::StopCounting()
{
    counting.store(false);
    if (QThread::currentThread() == thread())
        stop();
}

// ---------------------------------------------------------------------------
// TDosThread

TDosThread::TDosThread(Snapshot snapshot) : snapshot(std::move(snapshot))
{
}

TDosThread::~TDosThread()
{
    WaitForEnd();
}

void TDosThread::RequestTermination()
{
    terminationRequest.store(true, std::memory_order_relaxed);
    snapshot.channel.wake.Signal();
}

void TDosThread::WaitForEnd()
{
    wait();
    // Pairs with the release at the end of run(): the thread's own end is
    // not something every checking tool can see.
    (void)ended.load(std::memory_order_acquire);
}

void TDosThread::run()
{
    // A write to a program that has closed its input fails with EPIPE here
    // instead of ending our whole program. Children get an empty mask.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    // A termination request before the run has begun skips it altogether.
    if (!terminationRequested()) {
        try {
            execute();
        } catch (...) {
            keep(std::current_exception());
        }
    }
    snapshot.channel.inputQueue.Clear();
    ended.store(true, std::memory_order_release);
}

void TDosThread::keep(std::exception_ptr failure)
{
    if (!error)
        error = std::move(failure);
}

Platform::ChildProcess TDosThread::startProgram(int input, int output)
{
    const std::vector<std::string> arguments = Platform::SplitCommandLine(snapshot.CommandLine);
    const std::string path =
        arguments.empty() ? std::string() : Platform::FindProgram(arguments[0], snapshot.programFolder);
    if (!path.empty()) {
        auto child = Platform::ChildProcess::Start(
            path, arguments, input, output, Platform::NiceValueForPriorityClass(snapshot.PriorityClass));
        if (child)
            return std::move(*child);
    }
    throw TCreateProcessError(snapshot.CommandLine + " doesn't exist.");
}

void TDosThread::execute()
{
    {
        // Setup. A failure here ends the thread with no report at all.
        Platform::Pipe input = Platform::CreatePipe();
        Platform::Pipe output = Platform::CreatePipe();
        Platform::ChildProcess child = startProgram(input.ReadEnd.Get(), output.WriteEnd.Get());
        // The child's ends are the child's alone: with ours closed, the
        // output pipe reports its last writer's end.
        input.ReadEnd.Reset();
        output.WriteEnd.Reset();
        Platform::MakeNonBlocking(input.WriteEnd.Get());
        PartialLine.clear();
        PartialReported = false;
        buffer.assign(kInitialBufferSize, 0);

        try {
            pollingLoop(child, output.ReadEnd.Get(), input.WriteEnd.Get());
            flush();
        } catch (...) {
            // A callback or the mirror failed: nobody takes the output any
            // more, so the program goes; the run still ends as usual.
            keep(std::current_exception());
            child.KillGroup();
        }

        // End of the run: the child is reaped (or handed to the reaper when a
        // time limit left it running) and every pipe end closed.
        std::vector<char>().swap(buffer);
        std::string().swap(PartialLine);
    }
    snapshot.timer->StopCounting();
    if (snapshot.OnTerminated)
        snapshot.OnTerminated(snapshot.runner);
}

void TDosThread::pollingLoop(Platform::ChildProcess& child, int outputPipe, int inputPipe)
{
    for (;;) {
        const bool programEnded = child.HasEnded();
        int available = 0;
        if (::ioctl(outputPipe, FIONREAD, &available) != 0)
            available = 0;
        if (available > 0)
            outputStep(outputPipe, available);
        else
            inputStep(inputPipe);
        waitForChange(child, outputPipe, inputPipe);
        if (terminationRequested())
            child.KillGroup();
        if (programEnded) {
            exitCode.store(child.ExitCode().value_or(-1));
            break;
        }
        const TProcessTimer& timer = *snapshot.timer;
        if (snapshot.MaxTimeAfterBeginning >= 1 &&
            timer.SecondsSinceStart.load() > snapshot.MaxTimeAfterBeginning)
            break;
        if (snapshot.MaxTimeAfterLastOutput >= 1 &&
            timer.SecondsSinceLastLine.load() > snapshot.MaxTimeAfterLastOutput)
            break;
    }
}

// The pause at the end of a pass. It ends as soon as anything that can change
// the next pass happens: output, the program's end, room for input being
// written, or the runner's event (termination request, timer tick, queued
// input). Without a process descriptor the program's end cannot wake it, so
// it then waits 1 ms at most.
void TDosThread::waitForChange(Platform::ChildProcess& child, int outputPipe, int inputPipe)
{
    pollfd waits[4];
    nfds_t count = 0;
    waits[count++] = {snapshot.channel.wake.Descriptor(), POLLIN, 0};
    const nfds_t output = outputOpen ? count++ : 0;
    if (outputOpen)
        waits[output] = {outputPipe, POLLIN, 0};
    if (child.EndDescriptor() >= 0)
        waits[count++] = {child.EndDescriptor(), POLLIN, 0};
    if (written < writing.size())
        waits[count++] = {inputPipe, POLLOUT, 0};
    const int timeout = child.EndDescriptor() >= 0 ? -1 : 1;
    if (::poll(waits, count, timeout) <= 0)
        return;
    if (waits[0].revents)
        snapshot.channel.wake.Drain();
    // Every writer gone and nothing left: the pipe would wake every poll.
    if (outputOpen && (waits[output].revents & POLLHUP) && !(waits[output].revents & POLLIN))
        outputOpen = false;
}

void TDosThread::outputStep(int outputPipe, int available)
{
    if (static_cast<std::size_t>(available) > buffer.size())
        buffer.resize(available);
    const ssize_t count = ::read(outputPipe, buffer.data(), buffer.size());
    if (count <= 0)
        return;

    SplitIntoLines(
        PartialLine, buffer.data(), std::size_t(count), [this] { return terminationRequested(); },
        [this](std::string_view complete) { completeLine(complete); });
    if (!PartialLine.empty())
        reportPartial();
}

void TDosThread::completeLine(std::string_view line)
{
    snapshot.timer->NoteLine();
    snapshot.capturedLines.Add(line);
    putInMirror(line);
    PartialReported = false;
    // The one copy of a line: the callback takes its text by value.
    if (snapshot.OnNewLine)
        snapshot.OnNewLine(snapshot.runner, std::string(line), otEntireLine);
}

// While the mirror's last entry holds a line still growing, it is replaced;
// otherwise the text is a new entry.
void TDosThread::updateMirror(std::string_view text)
{
    std::vector<std::string>* mirror = snapshot.mirror;
    if (PartialReported && !mirror->empty())
        mirror->back() = text;
    else
        mirror->emplace_back(text);
}

void TDosThread::reportPartial()
{
    putInMirror(PartialLine);
    if (snapshot.OnNewLine)
        snapshot.OnNewLine(snapshot.runner, PartialLine, otBeginningOfLine);
    PartialReported = true;
}

// Writes queued entries while the program takes them. An entry the pipe
// cannot take at once is finished in later passes, so that a program that
// does not read its input never holds up the worker.
void TDosThread::inputStep(int inputPipe)
{
    while (!terminationRequested()) {
        if (written == writing.size()) {
            std::string entry;
            if (!snapshot.channel.inputQueue.TakeFirst(entry))
                return;
            if (entry.empty())
                continue;  // no marker, nothing to send or echo
            writing.assign(entry, 1);
            if (entry[0] == '_')
                writing += "\r\n";
            written = 0;
            writingEntry = std::move(entry);
        }
        while (written < writing.size()) {
            const ssize_t count = ::write(inputPipe, writing.data() + written, writing.size() - written);
            if (count > 0)
                written += count;
            else if (count < 0 && errno == EAGAIN)
                return;  // the rest when the pipe has room
            else if (count < 0 && errno != EINTR)
                written = writing.size();  // the program has closed its input: the entry is lost
        }
        writing.clear();
        written = 0;
        if (snapshot.InputToOutput)
            echo(writingEntry);
    }
}

void TDosThread::echo(const std::string& entry)
{
    std::string text = PartialLine;
    text.append(entry, 1);
    putInMirror(text);
    PartialReported = false;
    if (snapshot.OnNewLine)
        snapshot.OnNewLine(snapshot.runner, std::move(text), otEntireLine);
    PartialLine.clear();
}

void TDosThread::flush()
{
    if (PartialLine.empty())
        return;
    snapshot.capturedLines.Add(PartialLine);
    putInMirror(PartialLine);
    if (snapshot.OnNewLine)
        snapshot.OnNewLine(snapshot.runner, PartialLine, otEntireLine);
}

// ---------------------------------------------------------------------------
// TDosCommand

void RunnerChannel::InputQueue::Add(std::string entry)
{
    std::lock_guard lock(mutex);
    entries.push_back(std::move(entry));
}

bool RunnerChannel::InputQueue::TakeFirst(std::string& entry)
{
    std::lock_guard lock(mutex);
    if (entries.empty())
        return false;
    entry = std::move(entries.front());
    entries.pop_front();
    return true;
}

void RunnerChannel::InputQueue::Clear()
{
    std::lock_guard lock(mutex);
    entries.clear();
}

TDosCommand::TDosCommand(QObject* owner)
    : QObject(owner),
      owner(owner),
      capturedLines(std::make_unique<KeptLines>(kMaxCapturedText)),
      channel(std::make_unique<RunnerChannel>())
{
}

TDosCommand::~TDosCommand()
{
    Shutdown();
    if (timer)
        timer->SetWakeEvent(nullptr);
}

void TDosCommand::Start()
{
    if (CommandLine.empty())
        return;
    // One run at a time: an earlier worker is released (and, should it still
    // run, ended) before its lines are cleared under it.
    Shutdown();
    if (!timer)
        timer = new TProcessTimer(owner ? owner : this);
    timer->SetWakeEvent(&channel->wake);
    capturedLines->Clear();
    timer->Restart();
    lastError = nullptr;
    lastExitCode = -1;
    worker = std::make_unique<TDosThread>(TDosThread::Snapshot{
        .runner = this,
        .CommandLine = CommandLine,
        .capturedLines = *capturedLines,
        .mirror = mirrorLines,
        .InputToOutput = InputToOutput,
        .timer = timer.data(),
        .MaxTimeAfterBeginning = MaxTimeAfterBeginning,
        .MaxTimeAfterLastOutput = MaxTimeAfterLastOutput,
        .OnNewLine = OnNewLine,
        .OnTerminated = OnTerminated,
        .PriorityClass = PriorityClass,
        .channel = *channel,
        .programFolder = Platform::ProgramFolder(),
    });
    worker->start();
}

void TDosCommand::Shutdown()
{
    if (!worker)
        return;
    worker->RequestTermination();
    worker->WaitForEnd();
    lastError = worker->Error();
    lastExitCode = worker->ExitCode();
    worker.reset();
}

std::optional<int> TDosCommand::ExitCode() const
{
    const int code = worker ? worker->ExitCode() : lastExitCode;
    return code >= 0 ? std::optional<int>(code) : std::nullopt;
}

void TDosCommand::AddInput(std::string entry)
{
    channel->inputQueue.Add(std::move(entry));
    channel->wake.Signal();
}

std::exception_ptr TDosCommand::FatalException() const
{
    if (worker)
        return worker->Ended() ? worker->Error() : nullptr;
    return lastError;
}

std::vector<std::string> TDosCommand::CapturedLines() const
{
    return capturedLines->Lines();
}

bool TDosCommand::Running() const
{
    return worker && !worker->Ended();
}
