// The conversion job with the real converter: a camera-like clip through
// "Browse" to an FLV clip the settings window can use.
#include "app/ConvertDialogBox.h"
#include "app/ProgramWindows.h"
#include "app/winapp.h"
#include "player/Unit3.h"
#include "support/Media.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QPushButton>

using namespace TestSupport;

class RealJobTest : public QObject {
    Q_OBJECT

private slots:
    void aCameraClipBecomesAnFlvClip()
    {
        TempProgramFolder folder;
        DialogRecorder dialogs;
        QVERIFY(QFile::copy(OZ_CONV_PATH, folder.QPath() + "conv"));
        QVERIFY(QFile::setPermissions(folder.QPath() + "conv", QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(QDir().mkpath(folder.QPath() + "clips"));
        const QString clip = folder.QPath() + QString::fromUtf8("clips/my clip ü.avi");
        const QString problem = MakeCameraClip(clip, 3);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        auto previous = Dialogs::SetOpenFileHandler([&](const Dialogs::OpenFileRequest&) {
            return std::optional<std::string>(clip.toLocal8Bit().toStdString());
        });

        auto& application = *static_cast<TApplication*>(QCoreApplication::instance());
        StartProgram(application);
        QTest::mouseClick(Form1->findChild<QPushButton*>("Button1"), Qt::LeftButton);

        QCOMPARE(dialogs.Texts(), (std::vector<std::string>{"Converting is started. Click \"OK\" to continue",
                                                            "Sucessufull converting"}));
        QCOMPARE(Form1->FlvFileName, std::string("my_clip_ü.flv"));
        QCOMPARE(Form1->ClipLength, std::string("3"));
        QVERIFY(QByteArray::fromStdString(Form1->ConvertOutput).contains("Duration: 00:00:03"));
        QVERIFY(Form3->isVisible());
        application.DestroyForms();
        Dialogs::SetOpenFileHandler(std::move(previous));

        const MediaProbe flv = ProbeMedia(folder.QPath() + QString::fromUtf8("html/flvs/my_clip_ü.flv"));
        QCOMPARE(flv.Format, QString("flv"));
        QCOMPARE(flv.VideoCodec, QString("flv1"));
        QCOMPARE(flv.Width, 240);
        QCOMPARE(flv.Height, 180);
        QCOMPARE(flv.AudioCodec, QString("mp3"));
        QVERIFY2(QList<int>({44100, 22050, 11025}).contains(flv.SampleRate),
                 qPrintable(QString::number(flv.SampleRate)));
        QVERIFY(qAbs(flv.Duration - 3.0) < 0.3);
    }
};

OZ_TEST_MAIN(RealJobTest)
#include "tst_job_real.moc"
