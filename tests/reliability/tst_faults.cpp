// The fault table: a converter, a disk or an input that misbehaves, through
// the conversion job and the page writer. Every row ends with the design's
// messages, nothing left behind, and the main window ready for another
// "Browse".
#include "JobHarness.h"
#include "platform/RadioGroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTimer>
#include <QProgressBar>

#include <sys/mount.h>
#include <sys/stat.h>

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
        QVERIFY(WaitFor([&] {
            const ProcessResources after = CurrentResources();
            return after.Descriptors == before.Descriptors && after.Threads == before.Threads &&
                   after.Children == 0;
        }));
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
        // is left beside it.
        QCOMPARE(ReadFile(page), earlier);
        QCOMPARE(QDir(QString::fromLocal8Bit(html.c_str())).entryList(QDir::Files).size(), 2);
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

OZ_TEST_MAIN(FaultTest)
#include "tst_faults.moc"
