// conv's rules: its command line, the streams it takes, the rates it
// picks and the ffmpeg command line it hands on.
#include "ConvPlan.h"
#include "support/TestSupport.h"

#include <algorithm>

using namespace Conv;

namespace {

std::vector<std::string> toStd(const QStringList& list)
{
    std::vector<std::string> result;
    for (const QString& item : list)
        result.push_back(item.toStdString());
    return result;
}

bool contains(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

InputFacts facts(qint64 size, double duration, int sampleRate, int channels)
{
    InputFacts facts;
    facts.SizeBytes = size;
    facts.DurationSeconds = duration;
    facts.VideoStream = 0;
    if (sampleRate > 0) {
        facts.AudioStream = 1;
        facts.SampleRate = sampleRate;
        facts.Channels = channels;
    }
    return facts;
}

}  // namespace

class TestConvPlan : public QObject {
    Q_OBJECT

private slots:
    void parseArguments_data();
    void parseArguments();
    void chooseStreams();
    void chooseSettings_data();
    void chooseSettings();
    void decoderReduction_data();
    void decoderReduction();
    void ffmpegArguments();
};

void TestConvPlan::parseArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("overwrite");

    const QString hostile = QStringLiteral("-\"q\\ \n$HOME:|čž");
    QTest::newRow("program's command line") << QStringList{"-i",      "/clips/my clip.avi",
                                                           "-vcodec", "flv",
                                                           "-acodec", "mp3",
                                                           "-s",      "240x180",
                                                           "-y",      "/prog/html/flvs/my_clip.flv"}
                                            << true << "/clips/my clip.avi"
                                            << "/prog/html/flvs/my_clip.flv" << true;
    QTest::newRow("options in another order")
        << QStringList{"-y", "-s", "240x180", "/out.flv", "-acodec", "mp3", "-i", "/in.avi", "-vcodec", "flv"}
        << true << "/in.avi"
        << "/out.flv" << true;
    QTest::newRow("names that look like options")
        << QStringList{"-i", "-y", "-vcodec", "flv", "-y", "-s.flv"} << true << "-y"
        << "-s.flv" << true;
    QTest::newRow("every awkward character")
        << QStringList{"-i", hostile, hostile + ".flv"} << true << hostile << hostile + ".flv" << false;
    QTest::newRow("after --") << QStringList{"-i", "in", "--", "-y"} << true << "in"
                              << "-y" << false;
    QTest::newRow("no output") << QStringList{"-i", "in.avi", "-y"} << false << ""
                               << "" << false;
    QTest::newRow("no input") << QStringList{"-y", "out.flv"} << false << ""
                              << "" << false;
    QTest::newRow("-i without value") << QStringList{"out.flv", "-i"} << false << ""
                                      << "" << false;
    QTest::newRow("two outputs") << QStringList{"-i", "in", "a.flv", "b.flv"} << false << ""
                                 << "" << false;
    QTest::newRow("other video codec") << QStringList{"-i", "in", "-vcodec", "h264", "o"} << false << ""
                                       << "" << false;
    QTest::newRow("odd frame size") << QStringList{"-i", "in", "-s", "241x180", "o"} << false << ""
                                    << "" << false;
}

void TestConvPlan::parseArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, valid);

    const auto parsed = ParseArguments(toStd(arguments));
    const auto* request = std::get_if<Request>(&parsed);
    QCOMPARE(request != nullptr, valid);
    if (!valid) {
        QVERIFY(!std::get<UsageError>(parsed).Message.empty());
        return;
    }
    QTEST(QString::fromStdString(request->Input), "input");
    QTEST(QString::fromStdString(request->Output), "output");
    QTEST(request->Overwrite, "overwrite");
    QCOMPARE(request->Width, 240);
    QCOMPARE(request->Height, 180);
}

void TestConvPlan::chooseStreams()
{
    // An audio file's cover art comes first and is no video.
    std::vector<StreamFacts> streams(4);
    streams[0] = {0, StreamType::Video, "mjpeg", "yuvj420p", 500, 500, 0, 0, 0, true};
    streams[1] = {1, StreamType::Audio, "aac", "", 0, 0, 0, 48000, 6, false};
    streams[2] = {2, StreamType::Video, "mpeg4", "yuv420p", 640, 480, 30000 / 1001.0, 0, 0, false};
    streams[3] = {3, StreamType::Audio, "mp3", "", 0, 0, 0, 22050, 1, false};
    InputFacts read = ChooseStreams(streams, 12.5, 1234);
    QCOMPARE(read.SizeBytes, qint64(1234));
    QCOMPARE(read.DurationSeconds, 12.5);
    QCOMPARE(read.VideoStream, 2);
    QCOMPARE(read.VideoCodec, "mpeg4");
    QCOMPARE(read.PixelFormat, "yuv420p");
    QCOMPARE(read.Width, 640);
    QCOMPARE(read.Height, 480);
    QVERIFY(qAbs(read.FrameRate - 29.97) < 0.01);
    QCOMPARE(read.AudioStream, 1);
    QCOMPARE(read.SampleRate, 48000);
    QCOMPARE(read.Channels, 6);

    // Audio of an unknown rate is no sound to convert.
    streams.resize(2);
    streams[0] = {0, StreamType::Video, "h264", "yuv420p", 1280, 720, 0, 0, 0, false};
    streams[1] = {1, StreamType::Audio, "aac", "", 0, 0, 0, 0, 2, false};
    read = ChooseStreams(streams, 0, 10);
    QCOMPARE(read.VideoStream, 0);
    QCOMPARE(read.DurationSeconds, 0.0);
    QCOMPARE(read.AudioStream, -1);
    QCOMPARE(read.FrameRate, 0.0);
}

void TestConvPlan::chooseSettings_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<double>("duration");
    QTest::addColumn<int>("inputRate");
    QTest::addColumn<int>("inputChannels");
    QTest::addColumn<int>("videoKbps");
    QTest::addColumn<int>("audioKbps");
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("maxFps");

    // 374 kbit/s: 1.25 x 374 - 8 = 460 to share, a fifth of it to sound.
    QTest::newRow("camera clip, 48 kHz")
        << qint64(140436) << 3.0 << 48000 << 2 << 380 << 80 << 44100 << 2 << 30;
    QTest::newRow("32 kHz") << qint64(140436) << 3.0 << 32000 << 2 << 380 << 80 << 22050 << 2 << 30;
    QTest::newRow("16 kHz, MP3 tops at 64")
        << qint64(10000000) << 10.0 << 16000 << 1 << 800 << 64 << 11025 << 1 << 30;
    QTest::newRow("phone clip, ceilings")
        << qint64(100000000) << 60.0 << 48000 << 6 << 800 << 128 << 44100 << 2 << 30;
    QTest::newRow("past 4 GiB in a second")
        << qint64(5) * 1024 * 1024 * 1024 << 1.0 << 44100 << 2 << 800 << 128 << 44100 << 2 << 30;
    QTest::newRow("no audio") << qint64(78426) << 3.0 << 0 << 0 << 253 << 0 << 0 << 0 << 30;
    QTest::newRow("floors") << qint64(31200) << 3.0 << 44100 << 2 << 64 << 32 << 44100 << 1 << 16;
    QTest::newRow("below the floors") << qint64(22666) << 3.0 << 48000 << 1 << 51 << 16 << 22050 << 1 << 12;
    QTest::newRow("tiny") << qint64(3000) << 3.0 << 48000 << 2 << 24 << 16 << 22050 << 1 << 10;
    QTest::newRow("unknown length") << qint64(10000000) << 0.0 << 8000 << 1 << 24 << 16 << 11025 << 1 << 10;
}

void TestConvPlan::chooseSettings()
{
    QFETCH(qint64, size);
    QFETCH(double, duration);
    QFETCH(int, inputRate);
    QFETCH(int, inputChannels);

    const Settings settings = ChooseSettings(facts(size, duration, inputRate, inputChannels));
    QTEST(settings.VideoKbps, "videoKbps");
    QTEST(settings.AudioKbps, "audioKbps");
    QTEST(settings.SampleRate, "sampleRate");
    QTEST(settings.Channels, "channels");
    QTEST(settings.MaxFps, "maxFps");
}

void TestConvPlan::decoderReduction_data()
{
    QTest::addColumn<QString>("codec");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("reduction");

    QTest::newRow("camera MPEG-4") << "mpeg4" << 640 << 480 << 1;
    QTest::newRow("wide, just twice as high") << "mpeg4" << 640 << 360 << 1;
    QTest::newRow("HD MPEG-2") << "mpeg2video" << 1920 << 1080 << 2;
    QTest::newRow("huge, three at most") << "wmv2" << 4096 << 4096 << 3;
    QTest::newRow("under twice the frame") << "mpeg4" << 478 << 480 << 0;
    QTest::newRow("H.264 cannot") << "h264" << 1920 << 1080 << 0;
    QTest::newRow("size unknown") << "mpeg4" << 0 << 0 << 0;
}

void TestConvPlan::decoderReduction()
{
    QFETCH(QString, codec);
    QFETCH(int, width);
    QFETCH(int, height);
    InputFacts input = facts(1000000, 10, 0, 0);
    input.VideoCodec = codec.toStdString();
    input.Width = width;
    input.Height = height;
    const int reduction = DecoderReduction(Request{}, input);
    QTEST(reduction, "reduction");
    const auto arguments = FfmpegArguments(Request{}, input, ChooseSettings(input));
    // ffmpeg refuses to open a decoder asked for more than it can do.
    QCOMPARE(contains(arguments, "-lowres"), reduction > 0);
}

void TestConvPlan::ffmpegArguments()
{
    Request request;
    request.Input = "-in \"x\"\n$y:z|.avi";
    request.Output = "-out:1|.flv";
    request.Overwrite = true;
    const InputFacts withAudio = facts(1000000, 10, 48000, 2);
    auto arguments = FfmpegArguments(request, withAudio, ChooseSettings(withAudio));
    // The file protocol keeps ffmpeg from reading ':' , '|' or a leading '-'.
    QVERIFY(contains(arguments, "file:" + request.Input));
    QCOMPARE(arguments.back(), "file:" + request.Output);
    QVERIFY(contains(arguments, "-nostdin"));
    QVERIFY(contains(arguments, "-y"));
    QVERIFY(contains(arguments, "libmp3lame"));

    request.Overwrite = false;
    const InputFacts silent = facts(1000000, 10, 0, 0);
    arguments = FfmpegArguments(request, silent, ChooseSettings(silent));
    QVERIFY(contains(arguments, "-n"));
    QVERIFY(!contains(arguments, "-y"));
    QVERIFY(!contains(arguments, "libmp3lame"));

    // Frames past the cap are dropped before they are scaled.
    InputFacts fast = silent;
    fast.FrameRate = 60;
    const auto filters = [](const std::vector<std::string>& list) {
        return *(std::find(list.begin(), list.end(), "-vf") + 1);
    };
    QVERIFY(filters(FfmpegArguments(request, fast, ChooseSettings(fast))).starts_with("fps=30,scale="));
    fast.FrameRate = 30;
    QVERIFY(filters(FfmpegArguments(request, fast, ChooseSettings(fast))).starts_with("scale="));
    // zimg takes the common 4:2:0 picture only, its chroma sited where swscale sites it.
    fast.PixelFormat = "yuv420p";
    const std::string zimg = filters(FfmpegArguments(request, fast, ChooseSettings(fast)));
    QVERIFY(zimg.starts_with("zscale=") &&
            zimg.find(":chromalin=center:chromal=center,") != std::string::npos);
}

OZ_TEST_MAIN(TestConvPlan)
#include "tst_convplan.moc"
