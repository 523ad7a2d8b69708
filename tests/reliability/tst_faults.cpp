// The fault table: a converter, a disk or an input that misbehaves, through
// the conversion job and the page writer. Every row ends with the design's
// messages, nothing left behind, and the main window ready for another
// "Browse".
#include "JobHarness.h"
#include "base/ChildProcess.h"
#include "platform/ProgramFolder.h"
#include "platform/RadioGroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTimer>
#include <QProgressBar>

#include <csignal>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace TestSupport;

namespace {

void chooseSizeAndBuffer()
{
    Form3->findChild<QComboBox*>("ComboBox1")->setCurrentIndex(0);
    Form3->findChild<TRadioGroup*>("RadioGroup1")->setItemIndex(0);
}

void generate()
{
    QTest::mouseClick(Form3->findChild<QPushButton*>("Button1"), Qt::LeftButton);
}

// The processes that have not ended (zombies have) and pass the test.
struct Process {
    pid_t Pid, Parent, Group;
    bool Dying;  // exiting, or SIGKILL on its way
};
std::vector<Process> processes(const std::function<bool(const Process&)>& test)
{
    std::vector<Process> found;
    for (const QString& pid : QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs)) {
        // pid (name) state ppid pgrp session tty tpgid flags...: the name may hold blanks.
        const QByteArray stat = ReadFile("/proc/" + pid + "/stat");
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 7 || fields[0] == "Z")
            continue;
        bool dying = fields[6].toULong() & 0x4;  // PF_EXITING
        for (const QByteArray& line : ReadFile("/proc/" + pid + "/status").split('\n'))
            if (line.startsWith("SigPnd:") || line.startsWith("ShdPnd:"))
                dying |= (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGKILL - 1)) & 1;
        const Process process{pid.toInt(), fields[1].toInt(), fields[2].toInt(), dying};
        if (test(process))
            found.push_back(process);
    }
    return found;
}

// The program itself, run by this test program in a folder the test made:
// "Browse" pressed at once, the start message either left up ("message") or
// answered at once ("wait").
int runProgram(int argc, char* argv[])
{
    const rlimit noCoreFile{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCoreFile);
    for (const int signal : {SIGTERM, SIGHUP, SIGINT})  // as from a terminal, also in a background run
        std::signal(signal, SIG_DFL);
    TApplication application(argc, argv);
    const std::string folder = argv[2];
    const QString mode = argv[3];
    Platform::SetProgramFolderForTesting(folder);
    QDir::setCurrent(argv[2]);
    Dialogs::SetOpenFileHandler([&](const auto&) { return std::optional(folder + "clip.avi"); });
    if (mode != "message")
        Dialogs::SetMessageHandler([](const auto&) {});
    QTimer::singleShot(0, [] { Form1->findChild<QPushButton*>("Button1")->click(); });
    return RunProgram(application);
}

}  // namespace

class FaultTest : public QObject {
    Q_OBJECT

    ProcessResources before;
    std::unique_ptr<JobHarness> job;

    // The job works again as usual afterwards.
    void readyForTheNextBrowse()
    {
        job->TakeTexts();
        job->Browse("create;write:10");
        QCOMPARE(job->TakeTexts(), (Texts{Started, Successful}));
    }

private slots:
    void initTestCase()
    {
        // Whatever the toolkit keeps for the whole run is made now.
        JobHarness warmUp;
        warmUp.Browse("create;write:10");
    }

    void init()
    {
        before = CurrentResources();
        job = std::make_unique<JobHarness>();
    }

    void cleanup()
    {
        job.reset();
        // Nothing left behind: no more than before. The toolkit's pooled
        // threads, each with a descriptor of its own, end after an idle
        // while, whenever that comes, so fewer is fine.
        ProcessResources after;
        QVERIFY2(WaitFor([&] {
                     after = CurrentResources();
                     return after.Descriptors <= before.Descriptors && after.Threads <= before.Threads &&
                            after.Children == 0;
                 }),
                 qPrintable(QString("descriptors %1 -> %2, threads %3 -> %4, children %5")
                                .arg(before.Descriptors)
                                .arg(after.Descriptors)
                                .arg(before.Threads)
                                .arg(after.Threads)
                                .arg(after.Children)));
    }

    // However the program ends mid-job, its converter and the converter's
    // children end with it; ended in order, it leaves no torn clip.
    void programEndingMidJob_data()
    {
        QTest::addColumn<bool>("realConv");  // probing an input that never comes
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("signal");  // ABRT ends it as an abort() does
        QTest::newRow("TERM during the wait") << false << "wait" << SIGTERM;
        QTest::newRow("HUP during the wait") << false << "wait" << SIGHUP;
        QTest::newRow("INT during the start message") << false << "message" << SIGINT;
        QTest::newRow("TERM during conv's probe") << true << "message" << SIGTERM;
        QTest::newRow("KILL during the wait") << false << "wait" << SIGKILL;
        QTest::newRow("KILL during conv's probe") << true << "message" << SIGKILL;
        QTest::newRow("ABRT during the wait") << false << "wait" << SIGABRT;
    }
    void programEndingMidJob()
    {
        QFETCH(bool, realConv);
        QFETCH(QString, mode);
        QFETCH(int, signal);
        QVERIFY(::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0);
        auto notSubreaper = qScopeGuard([] { ::prctl(PR_SET_CHILD_SUBREAPER, 0); });
        if (realConv) {
            QFile::remove(job->folder.QPath() + "conv");
            QVERIFY(QFile::copy(OZ_CONV_PATH, job->folder.QPath() + "conv"));
            QVERIFY(QFile::remove(QString::fromStdString(job->input)));
            QVERIFY(::mkfifo(job->input.c_str(), 0644) == 0);
        }
        qputenv("FAKECONV", mode == "message" ? "create;write:1000;touch:ready;hang"
                                              : "create;write:1000;watchdog;touch:ready;hang");
        const Platform::UniqueFd nothing(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        auto program =
            Platform::ChildProcess::Start(QCoreApplication::applicationFilePath().toStdString(),
                                          {"tst_faults", "--program", job->folder.Path(), mode.toStdString()},
                                          nothing.Get(), STDERR_FILENO, 0);
        QVERIFY(program);

        // The converter, the program's one child, is under way (the real
        // one probes its input: it has the pipe open for reading, so a
        // writer may open it, and it waits for bytes that never come).
        pid_t converter = 0;
        Platform::UniqueFd feeder;  // holds the real one's probe in its first read
        auto noLeftovers = qScopeGuard([&] {
            if (converter > 0 && QTest::currentTestFailed())
                ::kill(-converter, SIGKILL);
        });
        QVERIFY(WaitFor([&] {
            const auto conv = processes([&](auto& p) { return p.Parent == program->Pid(); });
            converter = conv.empty() ? 0 : conv[0].Pid;
            if (!realConv)
                return converter && QFile::exists(job->folder.QPath() + "ready");
            if (converter && !feeder.Valid())
                feeder = Platform::UniqueFd(::open(job->input.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
            return feeder.Valid();
        }));
        ::kill(program->Pid(), signal);
        QVERIFY(WaitFor([&] { return program->HasEnded(); }));
        QElapsedTimer sinceTheEnd;
        sinceTheEnd.start();
        QCOMPARE(program->ExitCode().value_or(-1), 128 + signal);

        // By the time the program is gone, the converter's end is on its way
        // whatever the machine's load: it has ended, is ending or has SIGKILL
        // pending. Its group then goes well within a second; the deadline is
        // that second with a margin for a loaded machine. Its orphans come to
        // us, their subreaper, to be reaped.
        QVERIFY(processes([&](auto& p) { return p.Pid == converter && !p.Dying; }).empty());
        // Zombies do not count as there; one that became a zombie after a
        // reap but before the look is reaped after it, so none stays behind.
        const auto reapOrphans = [] {
            while (::waitpid(-1, nullptr, WNOHANG) > 0) {
            }
        };
        const auto gone = [&](const std::function<bool(const Process&)>& which) {
            return WaitFor(
                [&] {
                    reapOrphans();
                    const bool none = processes(which).empty();
                    reapOrphans();
                    return none;
                },
                5000);
        };
        QVERIFY(gone([&](auto& p) { return p.Group == converter; }));
        qInfo("converter's process group gone %lld ms after the program", sinceTheEnd.elapsed());
        QVERIFY(gone([](auto& p) { return p.Parent == ::getpid(); }));
        if (signal != SIGKILL && signal != SIGABRT)
            QVERIFY(!QFile::exists(QString::fromStdString(job->output)));
    }

    void converterMissing()
    {
        QVERIFY(QFile::remove(job->folder.QPath() + "conv"));
        job->Browse("");
        QCOMPARE(job->TakeTexts(), (Texts{Started, ReadOnly, HasErrors}));
        QVERIFY(Form1->isVisible());
        QFile::copy(FAKECONV_PATH, job->folder.QPath() + "conv");
        readyForTheNextBrowse();
    }

    void converterNotExecutable()
    {
        QVERIFY(QFile::setPermissions(job->folder.QPath() + "conv", QFile::ReadOwner | QFile::WriteOwner));
        job->Browse("");
        QCOMPARE(job->TakeTexts(), (Texts{Started, ReadOnly, HasErrors}));
        QFile::setPermissions(job->folder.QPath() + "conv",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        readyForTheNextBrowse();
    }

    void converterCrashing()
    {
        // What it wrote before it died is no clip: not a success.
        job->Browse("say:  Duration: 00:00:04.00, start: 0;create;write:5000;crash");
        QCOMPARE(job->TakeTexts(), (Texts{Started, Unsuccessful}));
        QCOMPARE(Form1->ClipLength, std::string("4"));
        QVERIFY(Form1->isVisible());
        readyForTheNextBrowse();
    }

    void converterHangingSilentForAMinute()
    {
        // No time limit: the progress window stays up, busy, and the windows
        // go on being served (painted, answering the desktop) all along.
        int served = 0;
        QTimer heartbeat;
        connect(&heartbeat, &QTimer::timeout, [&] { ++served; });
        heartbeat.start(1000);
        QElapsedTimer clock;
        clock.start();
        job->Browse("create;write:10;sleep:60000");
        QCOMPARE(job->TakeTexts(), (Texts{Started, Successful}));
        QVERIFY(clock.elapsed() >= 60000);
        QVERIFY2(served >= 50, qPrintable(QString::number(served)));
        QCOMPARE(Form1->ClipLength, std::string("0"));
        readyForTheNextBrowse();
    }

    void converterFloodingWithoutLineBreaks()
    {
        const long peakBefore = CurrentResources().PeakKiB;
        job->Browse("say:  Duration: 00:00:02.00, start: 0;create;write:10;flood:104857600");
        QCOMPARE(job->TakeTexts(), (Texts{Started, Successful}));
        QCOMPARE(Form1->ClipLength, std::string("2"));
        const long grown = CurrentResources().PeakKiB - peakBefore;
        qInfo("resident memory grew by %ld KiB for 100 MiB of output", grown);
        QVERIFY2(SanitizerBuild || grown < 64 * 1024, qPrintable(QString::number(grown)));
        readyForTheNextBrowse();
    }

    void converterWritingNulAndInvalidUtf8()
    {
        job->Browse("garbage;create;write:10");
        QCOMPARE(job->TakeTexts(), (Texts{Started, Successful}));
        QCOMPARE(Form1->ClipLength, std::string("4"));
        QVERIFY(Form1->ConvertOutput.find('\0') == std::string::npos);
        QVERIFY(Form1->ConvertOutput.find("\xff\xfe junk \xc3\x28 ") != std::string::npos);
        readyForTheNextBrowse();
    }

    void clipFolderMissing()
    {
        QVERIFY(QDir(job->folder.QPath() + "html/flvs").removeRecursively());
        job->Browse("create;write:10");
        const auto& messages = job->dialogs.Messages;
        QCOMPARE(messages.size(), std::size_t(2));
        QCOMPARE(messages[0].Text, Started);
        QCOMPARE(messages[1].Kind, Dialogs::MessageKind::Error);
        QVERIFY2(QByteArray::fromStdString(messages[1].Text).contains("html/flvs/clip.flv"),
                 messages[1].Text.c_str());
        QVERIFY(Form1->isVisible());
        QVERIFY(QDir().mkpath(job->folder.QPath() + "html/flvs"));
        readyForTheNextBrowse();
    }

    void diskFullWhileWritingThePage()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to mount a small file system");
        const std::string html = job->folder.Path() + "html";
        if (::mount("tmpfs", html.c_str(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a small file system here");
        struct Unmount {
            std::string at;
            ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
        } unmount{html};
        QVERIFY(QDir().mkpath(QString::fromLocal8Bit((html + "/flvs").c_str())));

        job->Browse("create;write:10");
        QCOMPARE(job->TakeTexts(), (Texts{Started, Successful}));
        chooseSizeAndBuffer();
        generate();
        QCOMPARE(job->TakeTexts(), (Texts{"Web page is built"}));
        const QString page = QString::fromLocal8Bit((html + "/TempHtml.html").c_str());
        const QByteArray earlier = ReadFile(page);

        // Fill the file system to the last byte.
        QFile filler(QString::fromLocal8Bit((html + "/filler").c_str()));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(512, 'x');
        while (filler.write(block) > 0) {
        }
        while (filler.write("x", 1) > 0) {
        }
        filler.close();

        Form3->findChild<QCheckBox*>("CheckBox1")->setChecked(false);
        generate();
        const auto& messages = job->dialogs.Messages;
        QCOMPARE(messages.size(), std::size_t(1));
        QCOMPARE(messages[0].Kind, Dialogs::MessageKind::Error);
        QVERIFY2(QByteArray::fromStdString(messages[0].Text).contains("No space left on device"),
                 messages[0].Text.c_str());
        // Nothing lost: the earlier page is whole, and no half-written file
        // is left beside it, the site page and the filler.
        QCOMPARE(ReadFile(page), earlier);
        QCOMPARE(QDir(QString::fromLocal8Bit(html.c_str())).entryList(QDir::Files).size(), 3);
        QVERIFY(Form3->isVisible());
    }

    void pagePathIsAFolder()
    {
        QVERIFY(QDir().mkpath(job->folder.QPath() + "html/TempHtml.html"));
        job->Browse("create;write:10");
        QCOMPARE(job->TakeTexts(), (Texts{Started, Successful}));
        chooseSizeAndBuffer();
        generate();
        const auto& messages = job->dialogs.Messages;
        QCOMPARE(messages.size(), std::size_t(1));
        QCOMPARE(messages[0].Kind, Dialogs::MessageKind::Error);
        QVERIFY2(QByteArray::fromStdString(messages[0].Text).contains("Is a directory"),
                 messages[0].Text.c_str());
        QVERIFY(QFileInfo(job->folder.QPath() + "html/TempHtml.html").isDir());
        QCOMPARE(QDir(job->folder.QPath() + "html").entryList(QDir::Files).size(), 0);
    }
};

int main(int argc, char* argv[])
{
    if (argc == 4 && QByteArray(argv[1]) == "--program")
        return runProgram(argc, argv);
    TApplication application(argc, argv);
    TApplication::SetTitle("Ombrix Zudodira");
    FaultTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_faults.moc"
