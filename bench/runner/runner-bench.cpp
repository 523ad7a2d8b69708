// The runner's figures against baselines measured in the same run on the
// same child program:
//   1. throughput reading 200 MB of 80-byte lines: a plain blocking read loop
//      (the pipe's limit), QProcess, the runner;
//   2. our CPU time while a child sleeps 10 s quietly: QProcess, the runner;
//   3. start to end for a child that writes one line and exits, 200 runs:
//      QProcess's start to finished, the runner's Start to OnTerminated.
// Usage: runner-bench [idle] [start] [throughput]   (all three by default)
#include "doscommand/DosCommand.h"
#include "base/ChildProcess.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <malloc.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;

const std::string kChild = OZ_RUNNER_CHILD;
constexpr long long kFloodBytes = 200'000'000;
constexpr int kLineLength = 80;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

std::string commandLine(const Strings& arguments)
{
    std::string line = "\"" + kChild + "\"";
    for (const std::string& argument : arguments)
        line += " \"" + argument + "\"";
    return line;
}

QStringList qArguments(const Strings& arguments)
{
    QStringList list;
    for (const std::string& argument : arguments)
        list << QString::fromStdString(argument);
    return list;
}

// ---------------------------------------------------------------------------
// Ways of reading a child to its end; each returns the bytes and lines read.

struct Count {
    long long bytes = 0;
    long long lines = 0;
    Clock::time_point end;  // when the end was seen, before anything is freed
};

// Cuts a block into lines and hands each, as a string of its own, to a
// consumer behind a std::function, as the runner hands its lines to
// OnNewLine; carries an unfinished line.
void handLines(const char* at, const char* end, std::string& partial, Count& count)
{
    static const std::function<void(std::string)> consumer = [](std::string line) {
        asm volatile("" : : "r"(line.data()) : "memory");
    };
    while (const char* brk = static_cast<const char*>(std::memchr(at, '\n', end - at))) {
        ++count.lines;
        partial.append(at, brk);
        consumer(std::move(partial));
        partial.clear();
        at = brk + 1;
    }
    partial.append(at, end);
}

// read() in a loop, blocking, on a pipe; `split` also cuts lines into strings.
Count readLoop(const Strings& arguments, bool split)
{
    Platform::Pipe input = Platform::CreatePipe();
    Platform::Pipe output = Platform::CreatePipe();
    Strings argv{kChild};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto child = Platform::ChildProcess::Start(kChild, argv, input.ReadEnd.Get(), output.WriteEnd.Get(), 0);
    output.WriteEnd.Reset();
    Count count;
    std::string line;
    std::vector<char> buffer(65536);
    ssize_t got;
    while ((got = ::read(output.ReadEnd.Get(), buffer.data(), buffer.size())) > 0) {
        count.bytes += got;
        if (split)
            handLines(buffer.data(), buffer.data() + got, line, count);
    }
    while (!child->HasEnded())
        ::usleep(100);
    count.end = Clock::now();
    return count;
}

// The same on a thread of its own, as the runner reads (its allocations then
// come from a thread's own malloc arena).
Count onAThread(const std::function<Count()>& read)
{
    Count count;
    std::thread reader([&] { count = read(); });
    reader.join();
    return count;
}

// QProcess, asynchronously as a window would use it; `split` hands lines on
// as strings, as the runner does.
Count qprocess(const Strings& arguments, bool split)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    Count count;
    std::string partial;
    QObject::connect(&process, &QProcess::readyRead, [&] {
        const QByteArray bytes = process.readAll();
        count.bytes += bytes.size();
        if (split)
            handLines(bytes.constData(), bytes.constData() + bytes.size(), partial, count);
    });
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    process.start(QString::fromStdString(kChild), qArguments(arguments));
    loop.exec();
    count.end = Clock::now();
    return count;
}

// The runner, counting what OnNewLine reports as whole lines.
Count runner(const Strings& arguments)
{
    TDosCommand dosCommand(nullptr);
    Count count;
    dosCommand.OnNewLine = [&](QObject*, std::string line, TOutputType type) {
        if (type == otEntireLine) {
            count.bytes += line.size() + 1;
            ++count.lines;
        }
    };
    QEventLoop loop;
    dosCommand.OnTerminated = [&](QObject*) {
        count.end = Clock::now();
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    };
    dosCommand.CommandLine = commandLine(arguments);
    dosCommand.Start();
    loop.exec();
    dosCommand.Shutdown();
    return count;
}

void throughput()
{
    const Strings flood{"flood", std::to_string(kFloodBytes), std::to_string(kLineLength)};
    struct Way {
        const char* name;
        std::function<Count()> read;
        double best = 1e9;
        Count count;
    };
    std::vector<Way> ways{
        {"blocking read loop", [&] { return readLoop(flood, false); }, 1e9, {}},
        {"same on a thread, line strings",
         [&] { return onAThread([&] { return readLoop(flood, true); }); },
         1e9,
         {}},
        {"QProcess", [&] { return qprocess(flood, false); }, 1e9, {}},
        {"QProcess, line strings", [&] { return qprocess(flood, true); }, 1e9, {}},
        {"runner", [&] { return runner(flood); }, 1e9, {}},
    };
    for (int round = 0; round < 5; ++round) {
        for (Way& way : ways) {
            const auto start = Clock::now();
            way.count = way.read();
            way.best = std::min(way.best, std::chrono::duration<double>(way.count.end - start).count());
            malloc_trim(0);  // the freed lines settle outside the timing
        }
    }
    std::printf("1. Throughput, %lld bytes of %d-byte lines, best of 5\n", kFloodBytes, kLineLength);
    for (const Way& way : ways) {
        std::printf("   %-28s %8.1f MB/s %10.0f lines/s  (%lld bytes read)\n", way.name,
                    way.count.bytes / way.best / 1e6, kFloodBytes / kLineLength / way.best, way.count.bytes);
    }
    const double ours = ways[4].best;
    std::printf("   runner / QProcess reading bytes:   %.2f\n", ways[2].best / ours);
    std::printf("   runner / QProcess handing lines:   %.2f  (target >= 0.90)\n", ways[3].best / ours);
    std::printf("   runner / read loop handing lines:  %.2f\n\n", ways[1].best / ours);
}

void idle()
{
    const Strings sleeper{"sleep", "10000"};
    auto measure = [](const std::function<void()>& run) {
        const double cpu = cpuSeconds();
        const auto start = Clock::now();
        run();
        return std::make_pair(cpuSeconds() - cpu, secondsSince(start));
    };
    const auto [qtCpu, qtWall] = measure([&] { qprocess(sleeper, false); });
    const auto [ourCpu, ourWall] = measure([&] { runner(sleeper); });
    std::printf("2. Our CPU time while a child sleeps 10 s\n");
    std::printf("   QProcess: %7.2f ms CPU in %.2f s = %.3f%% of a core\n", qtCpu * 1e3, qtWall,
                100 * qtCpu / qtWall);
    std::printf("   runner:   %7.2f ms CPU in %.2f s = %.3f%% of a core  (target <= 0.2%%)\n\n", ourCpu * 1e3,
                ourWall, 100 * ourCpu / ourWall);
}

void startToEnd()
{
    const Strings oneLine{"write", "one line\\n"};
    constexpr int kRuns = 200;
    std::vector<double> ours, qt;
    TDosCommand dosCommand(nullptr);
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    Clock::time_point end;
    dosCommand.OnTerminated = [&](QObject*) {
        std::lock_guard lock(mutex);
        end = Clock::now();
        done = true;
        ended.notify_one();
    };
    dosCommand.CommandLine = commandLine(oneLine);
    for (int run = 0; run < kRuns; ++run) {
        {
            QProcess process;
            QEventLoop loop;
            Clock::time_point finished;
            QObject::connect(&process, &QProcess::finished, [&] {
                finished = Clock::now();
                loop.quit();
            });
            const auto start = Clock::now();
            process.start(QString::fromStdString(kChild), qArguments(oneLine));
            loop.exec();
            qt.push_back(std::chrono::duration<double, std::milli>(finished - start).count());
        }
        {
            done = false;
            const auto start = Clock::now();
            dosCommand.Start();
            std::unique_lock lock(mutex);
            ended.wait(lock, [&] { return done; });
            ours.push_back(std::chrono::duration<double, std::milli>(end - start).count());
            lock.unlock();
            dosCommand.Shutdown();
        }
    }
    auto percentile = [](std::vector<double> values, double share) {
        std::sort(values.begin(), values.end());
        return values[std::min(values.size() - 1, static_cast<std::size_t>(share * values.size()))];
    };
    std::printf("3. Start to end, child writes one line and exits, %d runs\n", kRuns);
    std::printf("   QProcess start to finished:  median %.3f ms, p99 %.3f ms\n", percentile(qt, 0.5),
                percentile(qt, 0.99));
    std::printf("   runner Start to OnTerminated: median %.3f ms, p99 %.3f ms\n", percentile(ours, 0.5),
                percentile(ours, 0.99));
    std::printf("   runner / QProcess median: %.2f  (target <= 1.10)\n\n",
                percentile(ours, 0.5) / percentile(qt, 0.5));
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList parts = application.arguments().mid(1);
    auto wanted = [&](const char* part) { return parts.isEmpty() || parts.contains(QLatin1String(part)); };
    // Memory freed by one section is settled before the next, so that its
    // cost is not counted there. Quiet sections first.
    if (wanted("idle"))
        idle();
    malloc_trim(0);
    if (wanted("start"))
        startToEnd();
    malloc_trim(0);
    if (wanted("throughput"))
        throughput();
    return 0;
}
