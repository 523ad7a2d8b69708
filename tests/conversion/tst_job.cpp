// The conversion job behind "Browse", with converters that misbehave on
// purpose: every outcome the job can reach, the messages the user sees, and
// what is left on disk and in the process table.
#include "app/ConvertDialogBox.h"
#include "app/ProgramWindows.h"
#include "app/winapp.h"
#include "platform/RadioGroup.h"
#include "player/Unit3.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <functional>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

const std::string Started = "Converting is started. Click \"OK\" to continue";
const std::string ReadOnly = "Input file is read only";
const std::string HasErrors = "The input video file has errors. Please check video file.";
const std::string Unsuccessful = "Unsucessufull converting, possible codec error. Please see codec list.";
const std::string Successful = "Sucessufull converting";

using Texts = std::vector<std::string>;

bool exists(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

std::int64_t sizeOf(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_size : -1;
}

// A file of the given size; sparse, so that gigabytes cost nothing.
void makeFile(const std::string& path, std::int64_t size)
{
    QDir().mkpath(QString::fromLocal8Bit(path.substr(0, path.rfind('/')).c_str()));
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QVERIFY(::ftruncate(fd, size) == 0);
    ::close(fd);
}

// Whether the process whose id the fake converter wrote down is gone.
bool converterGone(const std::string& pidFile)
{
    QFile file(QString::fromLocal8Bit(pidFile.c_str()));
    if (!file.open(QIODevice::ReadOnly))
        return true;
    const pid_t pid = file.readAll().toInt();
    return WaitFor([pid] { return ::kill(pid, 0) != 0 && errno == ESRCH; }, 30000);
}

}  // namespace

class JobTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempProgramFolder> folder;
    std::unique_ptr<DialogRecorder> dialogs;
    std::string input;
    std::string output;
    std::string pidFile;
    std::optional<std::string> chosen;
    Dialogs::OpenFileHandler previousOpen;

    void useFakeConverter()
    {
        const QString conv = folder->QPath() + "conv";
        QVERIFY(QFile::copy(FAKECONV_PATH, conv));
        QVERIFY(QFile::setPermissions(conv, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    // Runs the fake converter's steps through "Browse".
    void browse(const std::string& steps)
    {
        qputenv("FAKECONV", QByteArray::fromStdString(steps));
        QTest::mouseClick(Form1->findChild<QPushButton*>("Button1"), Qt::LeftButton);
        QVERIFY(!ConvertDialog->Showing());
        QVERIFY(!ConvertDialog->isVisible());
    }

    // Milliseconds from the answer to the start message to the message of
    // the given text, once the job is over; -1 when it never came.
    std::function<qint64()> timeFromTheStartMessageTo(const std::string& text)
    {
        auto answered = std::make_shared<QElapsedTimer>();
        auto at = std::make_shared<qint64>(-1);
        dialogs->OnMessage = [=](const Dialogs::MessageRequest& message) {
            if (message.Text == Started)
                answered->start();  // the answer follows at once
            else if (message.Text == text && *at < 0)
                *at = answered->elapsed();
        };
        return [at] { return *at; };
    }

private slots:
    void init()
    {
        folder = std::make_unique<TempProgramFolder>();
        dialogs = std::make_unique<DialogRecorder>();
        input = folder->Path() + "clips/my clip.avi";
        output = folder->Path() + "html/flvs/my_clip.flv";
        pidFile = folder->Path() + "converter.pid";
        makeFile(input, 1000);
        chosen = input;
        previousOpen = Dialogs::SetOpenFileHandler([this](const Dialogs::OpenFileRequest& request) {
            if (request.Title != "Select your video file")
                qWarning("unexpected dialog title");
            return chosen;
        });
        useFakeConverter();
        StartProgram(App());
    }
    void cleanup()
    {
        App().DestroyForms();
        Dialogs::SetOpenFileHandler(std::move(previousOpen));
        dialogs.reset();
        folder.reset();
        qunsetenv("FAKECONV");
    }

    void theOpenDialogOffersVideoFiles()
    {
        Dialogs::OpenFileRequest seen;
        Dialogs::SetOpenFileHandler([&](const Dialogs::OpenFileRequest& request) {
            seen = request;
            return std::nullopt;
        });
        browse("pid:" + pidFile);
        QCOMPARE(seen.Title, std::string("Select your video file"));
        QCOMPARE(seen.Filters.size(), std::size_t(2));
        QCOMPARE(seen.Filters[0].first, std::string("Video Files (avi, mpeg, mpg, wmv, mov)"));
        QCOMPARE(seen.Filters[0].second, std::string("*.avi; *.mpeg; *.mpg; *.mov; *.wmv; *.asx; *.mpe;"));
        QCOMPARE(seen.Filters[1].first, std::string("All Files (*.*)"));
        QCOMPARE(seen.Filters[1].second, std::string("*.*"));
        // Cancelled: nothing was started or shown.
        QVERIFY(dialogs->Messages.empty());
        QVERIFY(!exists(pidFile));
        QVERIFY(Form1->isVisible());
    }

    void aSuccessfulConversionHandsOverToTheSettings()
    {
        browse("pid:" + pidFile +
               ";say:  Duration: 00:01:03.50, start: 0.000000, bitrate: 9 kb/s;create;write:900");
        QCOMPARE(dialogs->Texts(), (Texts{Started, Successful}));
        QCOMPARE(Form1->FlvFileName, std::string("my_clip.flv"));
        QCOMPARE(Form1->ClipLength, std::string("63"));
        QVERIFY(Form3->isVisible());
        QVERIFY(!Form1->isVisible());
        // The settings window was given the clip: its page plays it.
        Control<QComboBox>(Form3, "ComboBox1")->setCurrentIndex(0);
        Control<TRadioGroup>(Form3, "RadioGroup1")->setItemIndex(0);
        Form3->Button1Click();
        QVERIFY(ReadFile(folder->QPath() + "html/TempHtml.html").contains("file=flvs\\my_clip.flv&clipLength=63&"));
        QCOMPARE(sizeOf(output), std::int64_t(900));
        QVERIFY(converterGone(pidFile));
    }

    // A video dropped on the main window or named on the command line takes
    // the road of "Browse", the dialog answered by the arrival.
    void aVideoArrivesWithoutBrowse_data()
    {
        QTest::addColumn<bool>("dropped");
        QTest::newRow("dropped on the main window") << true;
        QTest::newRow("named on the command line") << false;
    }
    void aVideoArrivesWithoutBrowse()
    {
        QFETCH(bool, dropped);
        int asked = 0;
        Dialogs::SetOpenFileHandler([&](const Dialogs::OpenFileRequest&) {
            ++asked;
            return chosen;
        });
        const std::string video = folder->Path() + "clips/Tom & Jerry.avi";
        makeFile(video, 1000);
        qputenv("FAKECONV", "create;write:900");
        if (dropped) {
            auto drag = [](QMimeData& data) {
                QDragEnterEvent enter(QPoint(40, 40), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(Form1, &enter);
                if (!enter.isAccepted())
                    return false;
                QDropEvent drop(QPointF(40, 40), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(Form1, &drop);
                return drop.isAccepted();
            };
            // A folder is no video to convert.
            QMimeData refused;
            refused.setUrls({QUrl::fromLocalFile(folder->QPath() + "clips")});
            QVERIFY(!drag(refused));
            QMimeData one;
            one.setUrls({QUrl::fromLocalFile(QString::fromStdString(video))});
            QVERIFY(drag(one));
        } else {
            // Relative to the current folder, which is the program folder here.
            OpenNamedVideo({"ombrix-zudodira", "--an-option", "clips/Tom & Jerry.avi"});
        }
        QVERIFY(WaitFor([&] { return dialogs->Texts().size() == 2 && !ConvertDialog->Showing(); }));
        QCOMPARE(dialogs->Texts(), (Texts{Started, Successful}));
        QCOMPARE(asked, 0);
        QCOMPARE(Form1->OpenDialog1.FileName, video);
        QCOMPARE(Form1->FlvFileName, std::string("Tom_&_Jerry.flv"));
        QVERIFY(Form3->isVisible());
        QVERIFY(!Form1->isVisible());
    }

    void theConverterGetsTheDesignedCommandLine_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<QString>("flv");
        QTest::newRow("blank in the name") << "clips/my clip.avi"
                                           << "my_clip.flv";
        QTest::newRow("no dot: an empty clip name") << "clips/noextension"
                                                    << ".flv";
    }
    void theConverterGetsTheDesignedCommandLine()
    {
        QFETCH(QString, clip);
        QFETCH(QString, flv);
        input = folder->FilePath(clip.toStdString());
        output = folder->FilePath("html/flvs/" + flv.toStdString());
        makeFile(input, 1000);
        chosen = input;
        const std::string arguments = folder->Path() + "arguments";
        browse("args:" + arguments + ";create;write:10");
        QCOMPARE(dialogs->Texts(), (Texts{Started, Successful}));
        QCOMPARE(Form1->FlvFileName, flv.toStdString());
        QCOMPARE(sizeOf(output), std::int64_t(10));
        QFile file(QString::fromLocal8Bit(arguments.c_str()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> seen = file.readAll().split('\0');
        const QList<QByteArray> expected{
            "-i", QByteArray::fromStdString(input),  "-vcodec", "flv", "-acodec", "mp3", "-s", "240x180",
            "-y", QByteArray::fromStdString(output), ""};
        QCOMPARE(seen, expected);
    }

    void anOutputUnderTwoBytesIsUnsuccessful()
    {
        browse("create;write:1");
        QCOMPARE(dialogs->Texts(), (Texts{Started, Unsuccessful}));
        QVERIFY(Form1->isVisible());
        QVERIFY(!Form3->isVisible());
        QCOMPARE(sizeOf(output), std::int64_t(1));  // left in place
        QVERIFY(Form1->FlvFileName.empty());
    }

    // The size checks begin after five pauses of half a second and follow
    // one every half second. Half-second pauses may end up to 5% early; a
    // loaded machine makes them later, never earlier.
    void aReadOnlyInputIsStopped()
    {
        QVERIFY(::chmod(input.c_str(), 0444) == 0);
        RootOverrideOff asAnOrdinaryUser;
        const auto readOnlyAt = timeFromTheStartMessageTo(ReadOnly);
        browse("pid:" + pidFile + ";create;write:10;hang");
        QCOMPARE(dialogs->Texts(), (Texts{Started, ReadOnly, HasErrors}));
        QVERIFY2(readOnlyAt() >= 5 * 475 && readOnlyAt() < 20000, qPrintable(QString::number(readOnlyAt())));
        QVERIFY(!exists(output));
        QVERIFY(converterGone(pidFile));
        QVERIFY(Form1->isVisible());
    }

    void theSecondSizeCheckFollowsHalfASecondLater()
    {
        const auto stoppedAt = timeFromTheStartMessageTo(HasErrors);
        // Beyond twice the input only once the first check has looked.
        browse("pid:" + pidFile + ";create;write:10;watchdog;size:2001;hang");
        QCOMPARE(dialogs->Texts(), (Texts{Started, HasErrors}));
        QVERIFY2(stoppedAt() >= 6 * 475 && stoppedAt() < 20000, qPrintable(QString::number(stoppedAt())));
        QVERIFY(converterGone(pidFile));
    }

    void aMissingOutputIsStopped()
    {
        browse("pid:" + pidFile + ";hang");
        QCOMPARE(dialogs->Texts(), (Texts{Started, ReadOnly, HasErrors}));
        QVERIFY(converterGone(pidFile));
    }

    void anOutputBeyondTwiceTheInputIsStopped_data()
    {
        QTest::addColumn<qint64>("inputSize");
        QTest::addColumn<qint64>("outputSize");
        QTest::addColumn<bool>("stopped");
        QTest::newRow("twice plus one") << qint64(1000) << qint64(2001) << true;
        QTest::newRow("exactly twice") << qint64(1000) << qint64(2000) << false;
        const qint64 gib = qint64(1) << 30;
        QTest::newRow("1.5 GiB, twice plus one") << gib * 3 / 2 << gib * 3 + 1 << true;
        QTest::newRow("1.5 GiB, exactly twice") << gib * 3 / 2 << gib * 3 << false;
        QTest::newRow("2.5 GiB, twice plus one") << gib * 5 / 2 << gib * 5 + 1 << true;
        QTest::newRow("2.5 GiB, under twice") << gib * 5 / 2 << gib * 4 << false;
    }
    void anOutputBeyondTwiceTheInputIsStopped()
    {
        QFETCH(qint64, inputSize);
        QFETCH(qint64, outputSize);
        QFETCH(bool, stopped);
        makeFile(input, inputSize);
        // The converter waits for the job's size check before it ends.
        browse("pid:" + pidFile + ";create;size:" + std::to_string(outputSize) + ";watchdog;sleep:200");
        if (stopped) {
            QCOMPARE(dialogs->Texts(), (Texts{Started, HasErrors}));
            QVERIFY(!exists(output));
            QVERIFY(Form1->isVisible());
        } else {
            QCOMPARE(dialogs->Texts(), (Texts{Started, Successful}));
            QCOMPARE(sizeOf(output), std::int64_t(outputSize));
        }
        QVERIFY(converterGone(pidFile));
    }

    void aConverterThatEndsBeforeTheMessageIsDismissed()
    {
        // A watchdog run would call this input read-only: it must not come.
        QVERIFY(::chmod(input.c_str(), 0444) == 0);
        RootOverrideOff asAnOrdinaryUser;
        dialogs->OnMessage = [](const Dialogs::MessageRequest& message) {
            if (message.Text == Started)
                QVERIFY(WaitFor([] { return !ConvertDialog->Showing(); }));
        };
        browse("say:Duration: 00:00:05.00;create;write:10");
        QCOMPARE(dialogs->Texts(), (Texts{Started, Successful}));
        QCOMPARE(Form1->ClipLength, std::string("5"));
    }

    void aConverterThatCannotBeStarted()
    {
        QVERIFY(QFile::remove(folder->QPath() + "conv"));
        browse("");
        QCOMPARE(dialogs->Texts(), (Texts{Started, ReadOnly, HasErrors}));
        QVERIFY(Form1->isVisible());
    }

    void aConverterThatFailsWithoutOutput()
    {
        browse("say:Unknown format;exit:1");
        QCOMPARE(dialogs->Messages.size(), std::size_t(2));
        QCOMPARE(dialogs->Messages[0].Text, Started);
        QCOMPARE(dialogs->Messages[1].Kind, Dialogs::MessageKind::Error);
        QVERIFY2(QByteArray::fromStdString(dialogs->Messages[1].Text).contains("my_clip.flv"),
                 dialogs->Messages[1].Text.c_str());
        QVERIFY(Form1->isVisible());
    }

    void aSecondBrowseStartsClean()
    {
        // The length line has arrived before the watchdog stops the converter.
        auto* bar = ConvertDialog->findChild<QProgressBar*>("ProgressBar1");
        dialogs->OnMessage = [bar](const Dialogs::MessageRequest& message) {
            if (message.Text == Started)
                QVERIFY(WaitFor([bar] { return bar->maximum() == 90; }));
        };
        browse("say:Duration: 00:00:09.00;create;write:2001;watchdog;hang");
        QCOMPARE(dialogs->Texts(), (Texts{Started, HasErrors}));
        QVERIFY(Form1->ConvertFailed);
        QCOMPARE(Form1->ClipLength, std::string("9"));  // a stopped conversion still reads its length
        dialogs->OnMessage = nullptr;
        dialogs->Messages.clear();
        browse("say:second run;create;write:10");
        QVERIFY(!Form1->ConvertFailed);
        QCOMPARE(Form1->ConvertOutput, std::string("second run"));
        QCOMPARE(Form1->ClipLength, std::string("0"));
        QCOMPARE(dialogs->Texts(), (Texts{Started, Successful}));
    }

    void theProgressBarFollowsTheConversion()
    {
        auto* bar = ConvertDialog->findChild<QProgressBar*>("ProgressBar1");
        const std::string go = folder->Path() + "go";
        dialogs->OnMessage = [&](const Dialogs::MessageRequest& message) {
            if (message.Text != Started)
                return;
            QVERIFY(WaitFor([&] { return bar->maximum() == 100 && bar->value() == 25; }));
            QFile(QString::fromLocal8Bit(go.c_str())).open(QIODevice::WriteOnly);
        };
        browse(
            "say:  Duration: 00:00:10.00, start: 0.0;create;write:10;print:frame=1 time=00:00:02.50 "
            "x\r;waitfor:" +
            go);
        QCOMPARE(dialogs->Texts(), (Texts{Started, Successful}));
        QCOMPARE(Form1->ClipLength, std::string("10"));
    }

    void theWindowsTakeNoInputDuringAJob()
    {
        // While the converter runs, a click on "Browse" again and the main
        // window's close box do nothing.
        int browseClicks = 0;
        auto* button = Form1->findChild<QPushButton*>("Button1");
        dialogs->OnMessage = [&](const Dialogs::MessageRequest& message) {
            if (message.Text != Started)
                return;
            QTimer::singleShot(700, Form1, [&] {
                QTest::mouseClick(button, Qt::LeftButton);
                ++browseClicks;
                Form1->close();
                QVERIFY(Form1->isVisible());
                QFile(QString::fromLocal8Bit((folder->Path() + "go").c_str())).open(QIODevice::WriteOnly);
            });
        };
        browse("create;write:10;waitfor:" + folder->Path() + "go");
        QCOMPARE(browseClicks, 1);
        QCOMPARE(dialogs->Texts(), (Texts{Started, Successful}));
    }
};

OZ_TEST_MAIN(JobTest)
#include "tst_job.moc"
