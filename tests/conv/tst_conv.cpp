// The built conv with the system's ffmpeg, on clips made at test time: what
// it writes, what it prints, how it treats awkward names and bad inputs.
#include "support/Media.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>

#include <csignal>

using namespace TestSupport;

namespace {

const QString kConv = QStringLiteral(OZ_CONV_PATH);

// The program's converter command line, as the process runner splits it.
QStringList convArguments(const QString& input, const QString& output)
{
    return {"-i", input, "-vcodec", "flv", "-acodec", "mp3", "-s", "240x180", "-y", output};
}

struct Run {
    int ExitCode = -1;
    QString Output;
};

Run runConv(const QStringList& arguments, const QString& workingFolder = {},
            const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess conv;
    conv.setProcessChannelMode(QProcess::MergedChannels);
    conv.setWorkingDirectory(workingFolder);
    conv.setProcessEnvironment(environment);
    conv.start(kConv, arguments);
    if (!conv.waitForFinished(60000))
        conv.kill();
    conv.waitForFinished();
    const int exitCode = conv.exitStatus() == QProcess::NormalExit ? conv.exitCode() : -1;
    return {exitCode, QString::fromLocal8Bit(conv.readAll())};
}

// Every process that has file open.
QStringList processesHolding(const QString& file)
{
    const QString target = QFileInfo(file).canonicalFilePath();
    QStringList holders;
    const QStringList pids = QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs);
    for (const QString& pid : pids) {
        const QString fds = "/proc/" + pid + "/fd";
        for (const QString& fd : QDir(fds).entryList(QDir::Files | QDir::System)) {
            if (QFile::symLinkTarget(fds + "/" + fd) == target)
                holders << pid;
        }
    }
    return holders;
}

}  // namespace

class TestConv : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void converts_data();
    void converts();
    void createsOutputEarlyAndGrows();
    void killedConvLeavesNothingWriting();
    void awkwardNames_data();
    void awkwardNames();
    void refuses_data();
    void refuses();
    void saysWhenFfmpegIsMissing();

private:
    QString path(const QString& name) const { return folder.filePath(name); }
    void makeClip(const QString& name, const QStringList& sources, const QStringList& encoding);

    QTemporaryDir folder;
};

void TestConv::makeClip(const QString& name, const QStringList& sources, const QStringList& encoding)
{
    const QString problem = MakeClip(path(name), sources, encoding);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void TestConv::initTestCase()
{
    QVERIFY(folder.isValid());
    QVERIFY2(QFileInfo(kConv).isExecutable(), qPrintable(kConv));
    QVERIFY2(!QStandardPaths::findExecutable("ffmpeg").isEmpty(), "ffmpeg is not installed");

    const auto picture = [](const QString& size, int seconds) {
        return QStringList{"-f", "lavfi", "-i",
                           QString("testsrc=size=%1:rate=25:duration=%2").arg(size).arg(seconds)};
    };
    const auto tone = [](int rate, int seconds) {
        return QStringList{"-f", "lavfi", "-i",
                           QString("sine=frequency=440:sample_rate=%1:duration=%2").arg(rate).arg(seconds)};
    };
    // A camera clip: 48 kHz stereo sound.
    makeClip("camera.avi", picture("320x240", 3) + tone(48000, 3),
             {"-c:v", "mpeg4", "-q:v", "5", "-c:a", "mp2", "-b:a", "128k", "-ac", "2"});
    // One second is enough to show that a name went through whole.
    makeClip("short.avi", picture("160x120", 1) + tone(48000, 1), {"-c:v", "mpeg4", "-c:a", "mp2"});
    makeClip("silent.mov", picture("320x240", 3), {"-c:v", "mpeg4", "-q:v", "5"});
    makeClip("wide.mov", picture("640x360", 3) + tone(32000, 3),
             {"-c:v", "mpeg4", "-q:v", "8", "-c:a", "mp2", "-b:a", "64k"});
    makeClip("telephone.avi", picture("320x240", 3) + tone(8000, 3),
             {"-c:v", "mpeg4", "-q:v", "8", "-c:a", "pcm_s16le", "-ac", "1"});
    // Squeezed hard by a modern codec: about 50 kbit/s, where FLV1 needs its
    // lowest settings to stay within twice the size.
    makeClip("squeezed.mp4", picture("320x240", 3) + tone(48000, 3),
             {"-c:v", "libx264", "-crf", "51", "-c:a", "aac", "-b:a", "16k", "-ac", "1"});
    // Twice the frame rate cap, from a decoder that cannot decode smaller.
    makeClip("fast.mp4",
             QStringList{"-f", "lavfi", "-i", "testsrc2=size=640x480:rate=60:duration=3"} + tone(44100, 3),
             {"-c:v", "libx264", "-preset", "veryfast", "-c:a", "aac"});
    makeClip("long.avi",
             QStringList{"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=20"} + tone(48000, 20),
             {"-c:v", "mpeg4", "-q:v", "4", "-c:a", "mp2", "-b:a", "128k"});
}

void TestConv::converts_data()
{
    QTest::addColumn<QString>("clip");
    QTest::addColumn<int>("sampleRate");  // 0: no sound

    QTest::newRow("48 kHz camera clip") << "camera.avi" << 44100;
    QTest::newRow("no sound") << "silent.mov" << 0;
    QTest::newRow("wide, 32 kHz") << "wide.mov" << 22050;
    QTest::newRow("8 kHz") << "telephone.avi" << 11025;
    QTest::newRow("squeezed") << "squeezed.mp4" << 22050;
    QTest::newRow("H.264 at 60 fps") << "fast.mp4" << 44100;
}

void TestConv::converts()
{
    QFETCH(QString, clip);
    QFETCH(int, sampleRate);
    const QString input = path(clip);
    const QString output = path(clip + ".flv");

    const Run run = runConv(convArguments(input, output));
    QVERIFY2(run.ExitCode == 0, qPrintable(run.Output));
    QVERIFY2(run.Output.contains(QRegularExpression("  Duration: 00:00:03\\.\\d\\d")),
             qPrintable(run.Output));
    QVERIFY(run.Output.contains("time=00:00:0"));

    const MediaProbe result = ProbeMedia(output);
    QCOMPARE(result.Format, "flv");
    QCOMPARE(result.VideoCodec, "flv1");
    QCOMPARE(result.Width, 240);
    QCOMPARE(result.Height, 180);
    QCOMPARE(result.AudioCodec, sampleRate ? "mp3" : "");
    QCOMPARE(result.SampleRate, sampleRate);
    QVERIFY2(qAbs(result.Duration - 3) < 0.2, qPrintable(QString::number(result.Duration)));

    const double ratio = double(QFileInfo(output).size()) / QFileInfo(input).size();
    qInfo("%s: output/input %.3f", qPrintable(clip), ratio);
    QVERIFY2(ratio <= 1.6, qPrintable(QString::number(ratio)));
}

void TestConv::createsOutputEarlyAndGrows()
{
    const QString input = path("long.avi");
    const QString output = path("long.flv");
    const qint64 inputSize = QFileInfo(input).size();

    QProcess conv;
    conv.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    conv.start(kConv, convArguments(input, output));
    QVERIFY(conv.waitForStarted());

    qint64 firstSeenMs = -1;
    QList<qint64> sizesWhileRunning;
    QVERIFY(WaitFor(
        [&] {
            const bool running = conv.state() == QProcess::Running;
            const QFileInfo file(output);
            if (file.exists() && firstSeenMs < 0)
                firstSeenMs = clock.elapsed();
            if (running && file.exists() &&
                (sizesWhileRunning.isEmpty() || sizesWhileRunning.last() != file.size()))
                sizesWhileRunning << file.size();
            return !running;
        },
        60000));
    const QString printed = QString::fromLocal8Bit(conv.readAll());
    QCOMPARE(conv.exitCode(), 0);

    QVERIFY2(firstSeenMs >= 0 && firstSeenMs < 2500, qPrintable(QString::number(firstSeenMs)));
    QVERIFY2(sizesWhileRunning.size() >= 3, qPrintable(QString::number(sizesWhileRunning.size())));
    const qint64 finalSize = QFileInfo(output).size();
    QVERIFY(finalSize <= 2 * inputSize);
    qInfo("long.avi: output/input %.3f, %lld sizes seen while running", double(finalSize) / inputSize,
          qint64(sizesWhileRunning.size()));
    QVERIFY(printed.contains(QRegularExpression("Duration: 00:00:20\\.\\d\\d")));
    // Progress reports; a fast machine may print only the last one.
    QVERIFY(printed.contains(QRegularExpression("time=00:00:(1\\d|20)")));
}

void TestConv::killedConvLeavesNothingWriting()
{
    // The process runner kills the converter with SIGKILL; nothing of it may
    // go on writing the file it is about to delete. Killing conv alone is the
    // harder case: the runner kills its whole group.
    const QString output = path("killed.flv");
    QProcess conv;
    conv.start(kConv, convArguments(path("long.avi"), output));
    QVERIFY(conv.waitForStarted());
    QVERIFY(WaitFor([&] { return QFileInfo(output).size() > 0 || conv.state() != QProcess::Running; }));
    QCOMPARE(conv.state(), QProcess::Running);
    ::kill(pid_t(conv.processId()), SIGKILL);
    QVERIFY(conv.waitForFinished());
    QCOMPARE(conv.exitStatus(), QProcess::CrashExit);
    QCOMPARE(processesHolding(output), QStringList());
}

void TestConv::awkwardNames_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("double quotes") << "say \"cheese\"";
    QTest::newRow("backslashes") << "back\\slash\\\\";
    QTest::newRow("newline") << "two\nlines";
    QTest::newRow("dollar") << "$HOME$(true)";
    QTest::newRow("leading dash") << "-y";
    QTest::newRow("UTF-8") << "čćž ölçü 日本語";
    QTest::newRow("colon and pipe") << "concat:a|b";
}

void TestConv::awkwardNames()
{
    QFETCH(QString, name);
    // Relative names, so that the arguments themselves start with the name.
    const QString input = name + ".avi";
    const QString output = name + ".flv";
    QVERIFY(QFile::copy(path("short.avi"), path(input)));

    const Run run = runConv(convArguments(input, output), folder.path());
    QVERIFY2(run.ExitCode == 0, qPrintable(run.Output));
    QCOMPARE(ProbeMedia(path(output)).VideoCodec, "flv1");
    const QStringList written = QDir(folder.path()).entryList({"*.flv"}, QDir::Files);
    QVERIFY2(written.contains(output), qPrintable(written.join(" / ")));
    QVERIFY(QFile::remove(path(output)));
}

void TestConv::refuses_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");

    QTest::newRow("random bytes") << "random.avi"
                                  << "random.flv";
    QTest::newRow("missing input") << "nothing here.avi"
                                   << "nothing.flv";
    // Named another way than the input, so only conv's own check can tell.
    QTest::newRow("output is the input") << "same.flv"
                                         << "./same.flv";
}

void TestConv::refuses()
{
    QFETCH(QString, input);
    QFETCH(QString, output);
    if (input == "random.avi") {
        QFile file(path(input));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QRandomGenerator bytes(4);
        QByteArray data(200000, 0);
        bytes.fillRange(reinterpret_cast<quint32*>(data.data()), data.size() / 4);
        file.write(data);
    } else if (input == "same.flv") {
        QVERIFY(QFile::copy(path("camera.avi"), path(input)));
    }
    const qint64 inputSize = QFileInfo(path(input)).size();

    const Run run = runConv(convArguments(input, output), folder.path());
    QVERIFY2(run.ExitCode > 0, qPrintable(run.Output));
    QVERIFY(!run.Output.contains("Duration: 0"));
    const QFileInfo written(path(output));
    if (input == "same.flv")
        QCOMPARE(QFileInfo(path(input)).size(), inputSize);
    else
        QVERIFY(!written.exists() || written.size() <= 2 * inputSize);
}

void TestConv::saysWhenFfmpegIsMissing()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QTemporaryDir emptyFolder;
    environment.insert("PATH", emptyFolder.path());
    const Run run = runConv(convArguments(path("camera.avi"), path("nowhere.flv")), {}, environment);
    QCOMPARE(run.ExitCode, 127);
    QVERIFY(run.Output.contains("ffmpeg"));
    QCOMPARE(run.Output.count('\n'), 1);
    QVERIFY(!QFileInfo::exists(path("nowhere.flv")));
}

OZ_TEST_MAIN(TestConv)
#include "tst_conv.moc"
