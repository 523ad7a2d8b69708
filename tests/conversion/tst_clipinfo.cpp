// The clip name, the clip length and the converter's command line.
#include "app/ClipInfo.h"
#include "base/CommandLine.h"
#include "support/TestSupport.h"

class ClipInfoTest : public QObject {
    Q_OBJECT

private slots:
    void clipNames_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("plain") << QByteArray("/clips/holiday.avi") << QByteArray("holiday");
        QTest::newRow("blank") << QByteArray("/clips/my clip.mpg") << QByteArray("my_clip");
        QTest::newRow("blanks") << QByteArray("/clips/ a  b .mov") << QByteArray("_a__b_");
        QTest::newRow("two dots") << QByteArray("/clips/a.b.wmv") << QByteArray("a.b");
        QTest::newRow("no extension") << QByteArray("/clips/noextension") << QByteArray("");
        QTest::newRow("dot in a folder") << QByteArray("/my.clips/clip.avi") << QByteArray("clip");
        QTest::newRow("dot in a folder, none in the name") << QByteArray("/my.clips/clip") << QByteArray("");
        QTest::newRow("backslash is a character") << QByteArray("/clips/a\\b.avi") << QByteArray("a\\b");
        QTest::newRow("windows-looking path")
            << QByteArray("C:\\Clips\\holiday.avi") << QByteArray("C:\\Clips\\holiday");
        QTest::newRow("hidden file") << QByteArray("/clips/.avi") << QByteArray("");
        QTest::newRow("no folder") << QByteArray("clip.avi") << QByteArray("clip");
        QTest::newRow("utf-8") << QByteArray("/clips/Žuža ß.avi") << QByteArray("Žuža_ß");
        QTest::newRow("empty") << QByteArray("") << QByteArray("");
    }
    void clipNames()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, name);
        QCOMPARE(QByteArray::fromStdString(VratiImeNaFajl(path.toStdString())), name);
    }

    void clipLengths_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QByteArray>("length");
        QTest::newRow("converter line")
            << QByteArray("Input #0, avi, from 'a.avi':\n  Duration: 01:02:03.04, start: 0.000000")
            << QByteArray("3723");
        QTest::newRow("none") << QByteArray("no length here\n") << QByteArray("0");
        QTest::newRow("empty") << QByteArray() << QByteArray("0");
        QTest::newRow("second wins") << QByteArray("  Duration: 00:01:00.00, a\n  Duration: 00:00:07.50, b\n")
                                     << QByteArray("7");
        QTest::newRow("not available") << QByteArray("  Duration: N/A, start: 0.0\n") << QByteArray("0");
        QTest::newRow("not available after a length")
            << QByteArray("  Duration: 00:00:09.00\n  Duration: N/A, bitrate\n") << QByteArray("9");
        QTest::newRow("cut short") << QByteArray("  Duration: 00:00:0") << QByteArray("0");
        QTest::newRow("cut short after a length")
            << QByteArray("Duration: 00:00:05.00\nDuration: 00:00:1") << QByteArray("5");
        QTest::newRow("ends exactly at the seconds") << QByteArray("Duration: 00:00:42") << QByteArray("42");
        QTest::newRow("other case") << QByteArray("duration: 00:00:42.00") << QByteArray("0");
        QTest::newRow("longest") << QByteArray("Duration: 99:59:59.99") << QByteArray("359999");
        QTest::newRow("partial then whole")
            << QByteArray("  Durat  Duration: 00:02:00.00, start\n") << QByteArray("120");
    }
    void clipLengths()
    {
        QFETCH(QByteArray, output);
        QFETCH(QByteArray, length);
        QCOMPARE(QByteArray::fromStdString(ClipLengthFromOutput(output.toStdString())), length);
    }

    void timesInTheConvertersLines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("label");
        QTest::addColumn<double>("seconds");  // -1: none
        QTest::newRow("length") << QByteArray("  Duration: 00:01:03.50, start: 0.0")
                                << QByteArray("Duration: ") << 63.5;
        QTest::newRow("progress")
            << QByteArray("frame=  45 fps=0.0 q=2.0 size=     256kB time=00:00:01.52 bitrate=1.0")
            << QByteArray("time=") << 1.52;
        QTest::newRow("no fraction") << QByteArray("time=01:00:00") << QByteArray("time=") << 3600.0;
        QTest::newRow("not available")
            << QByteArray("size=0kB time=N/A bitrate=N/A") << QByteArray("time=") << -1.0;
        QTest::newRow("negative") << QByteArray("time=-00:00:00.02") << QByteArray("time=") << -1.0;
        QTest::newRow("cut short") << QByteArray("time=00:00:0") << QByteArray("time=") << -1.0;
        QTest::newRow("absent") << QByteArray("Stream #0:0: Video: flv1") << QByteArray("time=") << -1.0;
    }
    void timesInTheConvertersLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, label);
        QFETCH(double, seconds);
        const auto found = TimeAfter(line.toStdString(), label.toStdString());
        QCOMPARE(found.has_value(), seconds >= 0);
        if (found)
            QVERIFY(qAbs(*found - seconds) < 1e-9);
    }

    void commandLineOfOrdinaryPaths()
    {
        QCOMPARE(ConverterCommandLine("/clips/my clip.avi", "/prog/html/flvs/my_clip.flv"),
                 std::string("conv -i \"/clips/my clip.avi\" -vcodec flv -acodec mp3 -s 240x180 -y "
                             "\"/prog/html/flvs/my_clip.flv\""));
    }

    void everyPathIsOneArgument_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("double quote") << QByteArray("/clips/say \"hi\".avi");
        QTest::newRow("backslash") << QByteArray("/clips/a\\b.avi");
        QTest::newRow("trailing backslash") << QByteArray("/clips/a.avi\\");
        QTest::newRow("backslash before quote") << QByteArray("/clips/a\\\"b.avi");
        QTest::newRow("newline") << QByteArray("/clips/two\nlines.avi");
        QTest::newRow("tab") << QByteArray("/clips/a\tb.avi");
        QTest::newRow("dollar") << QByteArray("/clips/$HOME $(x).avi");
        QTest::newRow("leading dash") << QByteArray("-clip.avi");
        QTest::newRow("utf-8") << QByteArray("/clips/Ђорђе ü.avi");
    }
    void everyPathIsOneArgument()
    {
        QFETCH(QByteArray, input);
        const std::string output = "/prog/html/flvs/" + VratiImeNaFajl(input.toStdString()) + ".flv";
        const auto arguments = Platform::SplitCommandLine(ConverterCommandLine(input.toStdString(), output));
        const std::vector<std::string> expected{
            "conv", "-i", input.toStdString(), "-vcodec", "flv", "-acodec",
            "mp3",  "-s", "240x180",           "-y",      output};
        QCOMPARE(arguments, expected);
    }
};

OZ_TEST_MAIN(ClipInfoTest)
#include "tst_clipinfo.moc"
