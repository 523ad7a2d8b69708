// The console process runner driving real child processes (oz-runner-child).
#include "doscommand/DosCommand.h"
#include "doscommand/DosThread.h"
#include "doscommand/KeptLines.h"
#include "base/ChildProcess.h"
#include "base/CommandLine.h"
#include "base/Sanitizers.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>

using namespace TestSupport;
using Strings = std::vector<std::string>;

Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(Strings)

namespace {

const std::string kChild = OZ_RUNNER_CHILD;

#if defined(OZ_THREAD_SANITIZER) || defined(OZ_ADDRESS_SANITIZER)
constexpr long long kFloodBytes = 24'000'000;
#else
constexpr long long kFloodBytes = 100'000'000;
#endif
constexpr std::size_t kMaxLine = 1024 * 1024;

std::string quoted(const std::string& text)
{
    return "\"" + Platform::EscapeInsideQuotes(text) + "\"";
}

// The child's command line: the program, then each step quoted.
std::string childLine(const Strings& steps, const std::string& program = kChild)
{
    std::string line = quoted(program);
    for (const std::string& step : steps)
        line += " " + quoted(step);
    return line;
}

std::string hex(const std::string& bytes)
{
    return QByteArray::fromStdString(bytes).toHex().toStdString();
}

std::string unhex(const std::string& text)
{
    return QByteArray::fromHex(QByteArray::fromStdString(text)).toStdString();
}

bool noChildLeft()
{
    return CurrentResources().Children == 0;
}

bool processGone(pid_t pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// Running and not a zombie.
bool processRunning(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int state = text.lastIndexOf(')') + 2;
    return state > 1 && state < text.size() && text[state] != 'Z';
}

struct Report {
    std::string text;
    TOutputType type;
    QObject* sender;
    std::string mirrorLast;  // the mirror's last entry when the report came
};

// Records what the runner reports; the callbacks come on the worker's thread.
class Recorder {
public:
    explicit Recorder(TDosCommand& runner, std::vector<std::string>* mirror = nullptr) : runner(runner)
    {
        runner.SetMirrorLines(mirror);
        runner.OnNewLine = [this, mirror](QObject* sender, std::string line, TOutputType type) {
            Report report{std::move(line), type, sender, mirror && !mirror->empty() ? mirror->back() : ""};
            {
                std::lock_guard lock(mutex);
                reports.push_back(report);
            }
            if (OnReport)
                OnReport(report);
        };
        runner.OnTerminated = [this](QObject* sender) {
            if (OnEnd)
                OnEnd();
            std::lock_guard lock(mutex);
            endSenders.push_back(sender);
        };
    }

    std::function<void(const Report&)> OnReport;  // set before Start
    std::function<void()> OnEnd;

    // "E text" for a whole line, "B text" for a beginning.
    Strings Texts() const
    {
        std::lock_guard lock(mutex);
        Strings texts;
        for (const Report& report : reports)
            texts.push_back((report.type == otEntireLine ? "E " : "B ") + report.text);
        return texts;
    }
    Strings MirrorLasts() const
    {
        std::lock_guard lock(mutex);
        Strings lasts;
        for (const Report& report : reports)
            lasts.push_back(report.mirrorLast);
        return lasts;
    }
    int Ends() const
    {
        std::lock_guard lock(mutex);
        return static_cast<int>(endSenders.size());
    }
    // Every report and every end came from the runner itself.
    bool SendersAreTheRunner() const
    {
        std::lock_guard lock(mutex);
        for (const Report& report : reports)
            if (report.sender != &runner)
                return false;
        for (QObject* sender : endSenders)
            if (sender != &runner)
                return false;
        return true;
    }
    bool WaitForText(const std::string& text) const
    {
        return WaitFor([&] {
            const Strings texts = Texts();
            return std::find(texts.begin(), texts.end(), text) != texts.end();
        });
    }
    bool WaitForEnd() const
    {
        return WaitFor([&] { return !runner.Running(); });
    }
    // The pid the child wrote with its "pid" step.
    pid_t ChildPid() const
    {
        WaitFor([&] { return !pidLine().empty(); });
        return std::atoi(pidLine().c_str() + 6);
    }

private:
    std::string pidLine() const
    {
        for (const std::string& text : Texts())
            if (text.rfind("E pid ", 0) == 0)
                return text;
        return {};
    }

    TDosCommand& runner;
    mutable std::mutex mutex;
    std::vector<Report> reports;
    std::vector<QObject*> endSenders;
};

// Runs a command line to its end.
void runToEnd(TDosCommand& runner, const Recorder& recorder, const std::string& commandLine)
{
    runner.CommandLine = commandLine;
    runner.Start();
    QVERIFY(recorder.WaitForEnd());
    QCOMPARE(recorder.Ends(), 1);
}

Strings argumentsOf(const Strings& capturedLines)
{
    Strings arguments;
    for (const std::string& line : capturedLines)
        if (line.rfind("arg ", 0) == 0)
            arguments.push_back(unhex(line.substr(4)));
    return arguments;
}

void writeScript(const std::string& path, const std::string& says)
{
    QFile script(QString::fromStdString(path));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(("#!/bin/sh\necho " + says + "\n").c_str());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace

class RunnerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // A child killed while we write to it must not end the tests.
        std::signal(SIGPIPE, SIG_IGN);
    }

    void cutsOutputIntoLines_data()
    {
        QTest::addColumn<Strings>("steps");
        QTest::addColumn<Strings>("reports");
        QTest::addColumn<Strings>("mirrorLasts");
        QTest::addColumn<Strings>("captured");

        // The child waits for a go-ahead after each step that must arrive in
        // a read of its own; the test gives one after every report.
        QTest::newRow("CR LF and LF in one read")
            << Strings{"write", "abc\\r\\ndef\\n"} << Strings{"E abc", "E def"} << Strings{"abc", "def"}
            << Strings{"abc", "def"};
        QTest::newRow("line grows across reads")
            << Strings{"write", "abc", "wait", "write", "def\\n"} << Strings{"B abc", "E abcdef"}
            << Strings{"abc", "abcdef"} << Strings{"abcdef"};
        QTest::newRow("unterminated end reported twice")
            << Strings{"write", "abc"} << Strings{"B abc", "E abc"} << Strings{"abc", "abc"}
            << Strings{"abc"};
        QTest::newRow("lone CR breaks") << Strings{"write", "a\\rb\\r"} << Strings{"E a", "E b"}
                                        << Strings{"a", "b"} << Strings{"a", "b"};
        QTest::newRow("CR ends a read, LF begins the next")
            << Strings{"write", "a\\r", "wait", "write", "\\nb\\n"} << Strings{"E a", "E ", "E b"}
            << Strings{"a", "", "b"} << Strings{"a", "", "b"};
        QTest::newRow("empty lines") << Strings{"write", "\\n\\n"} << Strings{"E ", "E "} << Strings{"", ""}
                                     << Strings{"", ""};
        QTest::newRow("NUL dropped, control bytes kept")
            << Strings{"write", "a\\0b\\tc\\x01\\x1b\\x7f\\n"} << Strings{"E ab\tc\x01\x1b\x7f"}
            << Strings{"ab\tc\x01\x1b\x7f"} << Strings{"ab\tc\x01\x1b\x7f"};
        QTest::newRow("a read of NULs reports the partial again")
            << Strings{"write", "ab", "wait", "write", "\\0", "wait", "write", "\\n"}
            << Strings{"B ab", "B ab", "E ab"} << Strings{"ab", "ab", "ab"} << Strings{"ab"};
        QTest::newRow("partial completed then a new partial")
            << Strings{"write", "ab", "wait", "write", "c\\r\\nd"} << Strings{"B ab", "E abc", "B d", "E d"}
            << Strings{"ab", "abc", "d", "d"} << Strings{"abc", "d"};
        QTest::newRow("bytes pass unconverted")
            << Strings{"write", "\\xc5\\xa0\\xff\\n"} << Strings{"E \xc5\xa0\xff"} << Strings{"\xc5\xa0\xff"}
            << Strings{"\xc5\xa0\xff"};
    }
    void cutsOutputIntoLines()
    {
        QFETCH(Strings, steps);
        QFETCH(Strings, reports);
        QFETCH(Strings, mirrorLasts);
        QFETCH(Strings, captured);

        TDosCommand runner(nullptr);
        Strings mirror;
        Recorder recorder(runner, &mirror);
        recorder.OnReport = [&](const Report&) { runner.AddInput("-g"); };
        runToEnd(runner, recorder, childLine(steps));

        QCOMPARE(recorder.Texts(), reports);
        QCOMPARE(recorder.MirrorLasts(), mirrorLasts);
        QCOMPARE(runner.CapturedLines(), captured);
        QCOMPARE(mirror, captured);
        QVERIFY(recorder.SendersAreTheRunner());
    }

    // A flood without line breaks is cut into lines of 1 MiB; no report is
    // ever larger, whatever the flood's size, and only the most recent lines
    // are kept.
    void longLinesAreCut()
    {
        TDosCommand runner(nullptr);
        std::atomic<std::size_t> longest{0}, reports{0}, whole{0};
        runner.OnNewLine = [&](QObject*, std::string line, TOutputType type) {
            longest = std::max(longest.load(), line.size());
            ++reports;
            if (type == otEntireLine)
                ++whole;
        };
        runner.CommandLine = childLine({"flood", std::to_string(kFloodBytes), "0"});
        runner.Start();
        QVERIFY(WaitFor([&] { return !runner.Running(); }, 300000));

        QCOMPARE(longest.load(), kMaxLine);
        QCOMPARE(whole.load(), std::size_t(kFloodBytes / kMaxLine + 1));
        const Strings& lines = runner.CapturedLines();
        std::size_t kept = 0;
        for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
            QCOMPARE(lines[i].size(), kMaxLine);
            kept += lines[i].size();
        }
        QCOMPARE(lines.back().size(), std::size_t(kFloodBytes % kMaxLine));
        QVERIFY2(kept <= 4 * kMaxLine, qPrintable(QString::number(kept)));
        QVERIFY(reports.load() > whole.load());
    }

    // Whatever the lines, what is kept is the most recent ones, in order,
    // within the bound and not far below it; each line break weighs a byte,
    // so that a flood of empty lines is bounded too.
    void keptLinesAreTheMostRecent_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("empty lines") << 0;
        QTest::newRow("short lines") << 1;
        QTest::newRow("lines of a quarter of the bound") << 250;
    }

    void keptLinesAreTheMostRecent()
    {
        QFETCH(int, width);
        constexpr std::size_t bound = 1000;
        constexpr int added = 20000;
        KeptLines kept(bound);
        auto line = [&](int number) {
            const std::string digits = std::to_string(number);
            return width == 0 ? std::string()
                              : digits + std::string(std::max<int>(0, width - digits.size()), '.');
        };
        for (int number = 0; number < added; ++number)
            kept.Add(line(number));

        const Strings lines = kept.Lines();
        std::size_t weight = 0, heaviest = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            QCOMPARE(lines[i], line(added - int(lines.size() - i)));
            weight += lines[i].size() + 1;
            heaviest = std::max(heaviest, lines[i].size() + 1);
        }
        QVERIFY2(weight <= bound && weight + heaviest > bound / 2, qPrintable(QString::number(weight)));
    }

    void emptyCommandLineDoesNothing()
    {
        TDosCommand runner(nullptr);
        Recorder recorder(runner);
        runToEnd(runner, recorder, childLine({"write", "kept\\n"}));
        runner.Shutdown();
        runner.CommandLine.clear();
        runner.Start();
        QVERIFY(!runner.Running());
        QCOMPARE(runner.CapturedLines(), Strings{"kept"});
        QCOMPARE(recorder.Ends(), 1);
    }

    // Ticks are given by the test; the timer itself is stopped so that no
    // real second interferes.
    void timeLimits_data()
    {
        QTest::addColumn<bool>("afterLastOutput");
        QTest::addColumn<int>("limit");
        QTest::addColumn<bool>("ends");
        QTest::newRow("after beginning 5") << false << 5 << true;
        QTest::newRow("after beginning 0") << false << 0 << false;
        QTest::newRow("after beginning -1") << false << -1 << false;
        QTest::newRow("after last output 5") << true << 5 << true;
        QTest::newRow("after last output 0") << true << 0 << false;
        QTest::newRow("after last output -3") << true << -3 << false;
    }
    void timeLimits()
    {
        QFETCH(bool, afterLastOutput);
        QFETCH(int, limit);
        QFETCH(bool, ends);

        QObject owner;
        TDosCommand runner(&owner);
        Recorder recorder(runner);
        (afterLastOutput ? runner.MaxTimeAfterLastOutput : runner.MaxTimeAfterBeginning) = limit;
        // Echoed entries are reported as whole lines, yet are no output.
        runner.InputToOutput = afterLastOutput;
        runner.CommandLine = childLine({"pid", "echo", "sleep", "60000"});
        runner.Start();
        auto* timer = owner.findChild<TProcessTimer*>();
        QVERIFY(timer);
        timer->stop();
        const pid_t child = recorder.ChildPid();
        std::atomic<bool> runningAtEnd{false};
        recorder.OnEnd = [&] { runningAtEnd = processRunning(child); };
        auto ticks = [&](int count) {
            for (int i = 0; i < count; ++i)
                timer->Tick();
        };

        // A complete line; for the limit after the last output it restarts the count.
        ticks(5);
        runner.AddInput("_line");
        const auto lines = afterLastOutput ? 2 : 1;  // the child's line, after the echo
        QVERIFY(WaitFor([&] { return std::ranges::count(recorder.Texts(), std::string("E line")) == lines; }));
        if (afterLastOutput) {
            // Neither the echo of an entry nor partial output restarts it.
            ticks(5);
            runner.AddInput("-part");
            QVERIFY(recorder.WaitForText("E part"));
            QVERIFY(recorder.WaitForText("B part"));
        }
        QVERIFY(runner.Running());
        ticks(1);
        if (ends) {
            QVERIFY(recorder.WaitForEnd());
            QVERIFY(runningAtEnd);  // the limit leaves the program running
            QVERIFY(processRunning(child));
            ::kill(child, SIGKILL);
            QVERIFY(WaitFor([&] { return processGone(child); }));  // and it is reaped when it ends
        } else {
            ticks(10);
            runner.AddInput("_more");
            QVERIFY(recorder.WaitForText(afterLastOutput ? "E partmore" : "E more"));
            QVERIFY(runner.Running());
            runner.Shutdown();
            QVERIFY(processGone(child));
        }
        QCOMPARE(recorder.Ends(), 1);
    }

    void shutdownWhenIdleDoesNothing()
    {
        QObject owner;
        TDosCommand runner(&owner);
        Recorder recorder(runner);
        runner.Shutdown();
        QVERIFY(!runner.Running());
        QVERIFY(!owner.findChild<TProcessTimer*>());
        QCOMPARE(recorder.Ends(), 0);
    }

    void shutdownAfterTheEndOnlyReleases()
    {
        TDosCommand runner(nullptr);
        Recorder recorder(runner);
        runToEnd(runner, recorder, childLine({"write", "x\\n"}));
        runner.Shutdown();
        QCOMPARE(recorder.Ends(), 1);
        QCOMPARE(recorder.Texts(), Strings{"E x"});
        QCOMPARE(runner.CapturedLines(), Strings{"x"});
    }

    void shutdownDuringARunKillsAndFlushes()
    {
        TDosCommand runner(nullptr);
        Strings mirror;
        Recorder recorder(runner, &mirror);
        runner.CommandLine = childLine({"pid", "write", "partial", "sleep", "60000"});
        runner.Start();
        const pid_t child = recorder.ChildPid();
        QVERIFY(recorder.WaitForText("B partial"));
        runner.Shutdown();
        // Everything happened before Shutdown returned.
        QCOMPARE(recorder.Ends(), 1);
        QCOMPARE(recorder.Texts().back(), std::string("E partial"));
        QCOMPARE(runner.CapturedLines(), (Strings{"pid " + std::to_string(child), "partial"}));
        QCOMPARE(mirror.back(), std::string("partial"));
        QVERIFY(processGone(child));
        QVERIFY(!runner.FatalException());
    }

    void tellsHowTheProgramEnded_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("exitCode");  // -1: none
        QTest::newRow("success") << QStringList{"write", "x"} << 0;
        QTest::newRow("failure") << QStringList{"exit", "3"} << 3;
        QTest::newRow("crash") << QStringList{"signal", "11"} << 128 + 11;
        QTest::newRow("terminated") << QStringList{"signal", "15"} << 128 + 15;
    }
    void tellsHowTheProgramEnded()
    {
        QFETCH(QStringList, steps);
        QFETCH(int, exitCode);
        TDosCommand runner(nullptr);
        Recorder recorder(runner);
        Strings childSteps;
        for (const QString& step : steps)
            childSteps.push_back(step.toStdString());
        runToEnd(runner, recorder, childLine(childSteps));
        QCOMPARE(runner.ExitCode(), std::optional<int>(exitCode));
        runner.Shutdown();
        QCOMPARE(runner.ExitCode(), std::optional<int>(exitCode));
    }

    void noEndIsToldWhenNoneWasSeen()
    {
        TDosCommand runner(nullptr);
        Recorder recorder(runner);
        QCOMPARE(runner.ExitCode(), std::nullopt);
        runner.CommandLine = childLine({"write", "up\\n", "sleep", "60000"});
        runner.Start();
        QVERIFY(recorder.WaitForText("E up"));
        QCOMPARE(runner.ExitCode(), std::nullopt);  // still running
        runner.Shutdown();
        QCOMPARE(runner.ExitCode(), std::optional<int>(128 + SIGKILL));
        runner.CommandLine = "no-such-program-anywhere";
        runner.Start();
        QVERIFY(WaitFor([&] { return !runner.Running(); }));
        QCOMPARE(runner.ExitCode(), std::nullopt);
    }

    void writesInputEntries_data()
    {
        QTest::addColumn<Strings>("entries");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<std::string>("received");
        QTest::newRow("_ alone") << Strings{"_"} << 2 << std::string("\r\n");
        QTest::newRow("_ with text") << Strings{"_abc"} << 5 << std::string("abc\r\n");
        QTest::newRow("other marker") << Strings{"-abc"} << 3 << std::string("abc");
        QTest::newRow("marker alone writes nothing") << Strings{"-", "-Z"} << 1 << std::string("Z");
        QTest::newRow("empty entry is dropped") << Strings{"", "-Q"} << 1 << std::string("Q");
        const std::string large(200000, 'k');
        QTest::newRow("entry larger than the pipe") << Strings{"_" + large} << 200002 << large + "\r\n";
    }
    void writesInputEntries()
    {
        QFETCH(Strings, entries);
        QFETCH(int, bytes);
        QFETCH(std::string, received);

        TDosCommand runner(nullptr);
        Recorder recorder(runner);
        for (const std::string& entry : entries)
            runner.AddInput(entry);
        runToEnd(runner, recorder, childLine({"read", std::to_string(bytes)}));
        QCOMPARE(runner.CapturedLines(), Strings{"in " + hex(received)});
    }

    void echoJoinsThePendingPartialLine()
    {
        TDosCommand runner(nullptr);
        Strings mirror;
        Recorder recorder(runner, &mirror);
        runner.InputToOutput = true;
        runner.CommandLine = childLine({"write", "P", "read", "1"});
        runner.Start();
        QVERIFY(recorder.WaitForText("B P"));
        runner.AddInput("-T");
        QVERIFY(recorder.WaitForEnd());
        QCOMPARE(recorder.Texts(), (Strings{"B P", "E PT", "E in 54"}));
        QCOMPARE(mirror, (Strings{"PT", "in 54"}));
        QCOMPARE(runner.CapturedLines(), Strings{"in 54"});
    }

    void echoAloneIsANewEntry()
    {
        TDosCommand runner(nullptr);
        Strings mirror{"earlier"};
        Recorder recorder(runner, &mirror);
        runner.InputToOutput = true;
        runner.AddInput("_hello");
        runToEnd(runner, recorder, childLine({"read", "7"}));
        const std::string in = "in " + hex("hello\r\n");
        QCOMPARE(recorder.Texts(), (Strings{"E hello", "E " + in}));
        QCOMPARE(mirror, (Strings{"earlier", "hello", in}));
        QCOMPARE(runner.CapturedLines(), Strings{in});
    }

    void programThatCannotStart_data()
    {
        QTest::addColumn<std::string>("commandLine");
        QTest::newRow("missing") << std::string("oz-no-such-program -x \"a b\"");
        QTest::newRow("not executable") << std::string("oz-plain-file");
        QTest::newRow("a folder") << std::string("html");
        QTest::newRow("missing path") << std::string("/nonexistent/oz-child");
        QTest::newRow("blanks only") << std::string("   ");
    }
    void programThatCannotStart()
    {
        QFETCH(std::string, commandLine);
        TempProgramFolder folder;
        QFile plain(folder.QPath() + "oz-plain-file");
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();

        TDosCommand runner(nullptr);
        Recorder recorder(runner);
        runner.CommandLine = commandLine;
        runner.Start();
        QVERIFY(recorder.WaitForEnd());
        QCOMPARE(recorder.Texts(), Strings{});
        QCOMPARE(recorder.Ends(), 0);
        const std::exception_ptr error = runner.FatalException();
        QVERIFY(error);
        try {
            std::rethrow_exception(error);
        } catch (const TCreateProcessError& failure) {
            QCOMPARE(failure.Message, commandLine + " doesn't exist.");
        }
        runner.Shutdown();
        QVERIFY(runner.FatalException());  // kept after the release
    }

    void throwingCallbacksEndTheRunCleanly()
    {
        TDosCommand runner(nullptr);
        Recorder recorder(runner);
        runner.OnNewLine = [](QObject*, std::string, TOutputType) {
            throw std::runtime_error("callback failed");
        };
        std::atomic<int> ends{0};
        runner.OnTerminated = [&](QObject*) { ++ends; };
        runner.CommandLine = childLine({"flood", "100000000000", "80"});
        runner.Start();
        QVERIFY(WaitFor([&] { return !runner.Running(); }));
        QCOMPARE(ends.load(), 1);
        try {
            std::rethrow_exception(runner.FatalException());
        } catch (const std::runtime_error& failure) {
            QCOMPARE(failure.what(), "callback failed");
        }
        QVERIFY(WaitFor(noChildLeft));

        runner.OnNewLine = nullptr;
        runner.OnTerminated = [](QObject*) { throw std::logic_error("end failed"); };
        runner.CommandLine = childLine({"write", "x\\n"});
        runner.Start();
        QVERIFY(WaitFor([&] { return !runner.Running(); }));
        QVERIFY(runner.FatalException());
        runner.Shutdown();
        try {
            std::rethrow_exception(runner.FatalException());
        } catch (const std::logic_error& failure) {
            QCOMPARE(failure.what(), "end failed");
        }
    }

    void argumentsReachTheChild_data()
    {
        QTest::addColumn<std::string>("arguments");  // after the program and "argv"
        QTest::addColumn<Strings>("expected");
        QTest::newRow("blanks and quotes")
            << std::string("  \"a b\"  c\"d e\"f  ") << Strings{"a b", "cd ef"};
        QTest::newRow("escaped quotes")
            << std::string("a\\\"b \"c \\\"d\\\"\"") << Strings{"a\"b", "c \"d\""};
        QTest::newRow("backslashes") << std::string("a\\\\b c\\ \"d\\\\\" e\\\\\\\"")
                                     << Strings{"a\\\\b", "c\\", "d\\", "e\\\""};
        QTest::newRow("doubled quote in quotes") << std::string("\"x\"\"y\"") << Strings{"x\"y"};
        QTest::newRow("empty argument") << std::string("\"\" z") << Strings{"", "z"};
        for (const std::string text : {"", "with \"quotes\"", "trailing\\", "\\\\server\\share\\",
                                       "line\nbreak\ttab", "$HOME `id`", "-i", "\xc5\xa0ta", "\\\"\\\\\""})
            QTest::newRow(("quoted " + hex(text)).c_str()) << quoted(text) << Strings{text};
    }
    void argumentsReachTheChild()
    {
        QFETCH(std::string, arguments);
        QFETCH(Strings, expected);
        TDosCommand runner(nullptr);
        Recorder recorder(runner);
        runToEnd(runner, recorder, quoted(kChild) + " argv " + arguments);
        expected.insert(expected.begin(), {kChild, "argv"});
        QCOMPARE(argumentsOf(runner.CapturedLines()), expected);
    }

    // The executable's folder first, then the current folder, then PATH.
    void looksUpTheProgram()
    {
        TempProgramFolder folder;
        QTemporaryDir current, onPath;
        const QString previousFolder = QDir::currentPath();
        const QByteArray previousPath = qgetenv("PATH");
        QDir::setCurrent(current.path());
        qputenv("PATH", onPath.path().toLocal8Bit() + ":" + previousPath);
        auto restore = qScopeGuard([&] {
            QDir::setCurrent(previousFolder);
            qputenv("PATH", previousPath);
        });
        const std::string name = "oz-lookup";
        writeScript(folder.FilePath(name), "program-folder");
        writeScript(current.filePath(QString::fromStdString(name)).toStdString(), "current-folder");
        writeScript(onPath.filePath(QString::fromStdString(name)).toStdString(), "on-path");

        TDosCommand runner(nullptr);
        Recorder recorder(runner);
        auto lookUp = [&] {
            runner.Shutdown();
            runner.CommandLine = name;
            runner.Start();
            return recorder.WaitForEnd() ? runner.CapturedLines() : Strings{"timed out"};
        };
        QCOMPARE(lookUp(), Strings{"program-folder"});
        // A file that is not executable is passed over.
        QFile(QString::fromStdString(folder.FilePath(name))).setPermissions(QFile::ReadOwner);
        QCOMPARE(lookUp(), Strings{"current-folder"});
        QFile::remove(current.filePath(QString::fromStdString(name)));
        QCOMPARE(lookUp(), Strings{"on-path"});
    }

    void childGetsItsOwnSessionStreamsAndPriority_data()
    {
        QTest::addColumn<unsigned>("priorityClass");
        QTest::addColumn<int>("nice");
        const int own = ::getpriority(PRIO_PROCESS, 0);
        QTest::newRow("normal") << 32u << own;
        QTest::newRow("idle") << 64u << 19;
        QTest::newRow("below normal") << 16384u << std::max(own, 10);
        QTest::newRow("above normal") << 32768u << (::geteuid() == 0 ? -5 : own);
    }
    void childGetsItsOwnSessionStreamsAndPriority()
    {
        QFETCH(unsigned, priorityClass);
        QFETCH(int, nice);
        // A descriptor someone opened without close-on-exec stays ours.
        const int stray = ::open("/dev/null", O_RDONLY);
        auto closeStray = qScopeGuard([&] { ::close(stray); });

        TDosCommand runner(nullptr);
        Recorder recorder(runner);
        runner.PriorityClass = priorityClass;
        runToEnd(runner, recorder, childLine({"fds", "session", "sleep", "100", "nice"}));
        QCOMPARE(runner.CapturedLines(),
                 (Strings{"fds 0 1 2", "session yes", "nice " + std::to_string(nice)}));
    }

    // Descriptors handed over land where asked, also when one of ours sits
    // where another is to go.
    void handedOverDescriptorsLandWhereAsked()
    {
        Platform::Pipe out = Platform::CreatePipe();
        const Platform::UniqueFd nothing(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        const int write = out.WriteEnd.Get();
        auto child = Platform::ChildProcess::Start(
            kChild, {kChild, "fds"}, {{nothing.Get(), write}, {write, 1}, {write, 2}, {nothing.Get(), 0}}, 0);
        QVERIFY(child);
        out.WriteEnd.Reset();
        std::string text;
        char buffer[256];
        for (ssize_t count; (count = ::read(out.ReadEnd.Get(), buffer, sizeof buffer)) > 0;)
            text.append(buffer, std::size_t(count));
        child->WaitForEnd();
        QCOMPARE(text, "fds 0 1 2 " + std::to_string(write) + "\n");
    }

    // After many runs everything a run took is given back.
    void manyRunsLeaveNothingBehind()
    {
        TDosCommand runner(nullptr);
        Recorder recorder(runner);
        runToEnd(runner, recorder, childLine({"write", "x\\n"}));
        runner.Shutdown();
        QVERIFY(WaitFor(noChildLeft));
        const ProcessResources before = CurrentResources();

        for (int run = 0; run < 200; ++run) {
            runner.Start();
            QVERIFY(WaitFor([&] { return !runner.Running(); }));
            QCOMPARE(runner.CapturedLines(), Strings{"x"});
            runner.Shutdown();
        }
        QCOMPARE(recorder.Ends(), 201);
        QCOMPARE(CurrentResources().Descriptors, before.Descriptors);
        // At most as many: a reaper thread of an earlier test may have ended since.
        QVERIFY(WaitFor([&] { return CurrentResources().Threads <= before.Threads; }));
        QVERIFY(WaitFor(noChildLeft));
    }
};

OZ_TEST_MAIN(RunnerTest)
#include "tst_runner.moc"
