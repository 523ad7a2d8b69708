// How much the conversion job adds to the converter's own time: the same
// 30-second clip converted through "Browse" (message boxes answered at once)
// and by running conv directly, alternately, several rounds.
#include "app/ConvertDialogBox.h"
#include "app/ProgramWindows.h"
#include "app/winapp.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/ProgramFolder.h"
#include "player/Unit3.h"
#include "support/Media.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    QTemporaryDir folder;
    const QString programFolder = folder.path() + "/";
    QDir().mkpath(programFolder + "html/flvs");
    QFile::copy(OZ_CONV_PATH, programFolder + "conv");
    QFile::setPermissions(programFolder + "conv", QFile::ReadOwner | QFile::ExeOwner);
    Platform::SetProgramFolderForTesting(programFolder.toStdString());
    const QString clip = programFolder + "clip.avi";
    std::printf("making a 30-second clip...\n");
    const QString problem = TestSupport::MakeCameraClip(clip, 30);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(problem));
        return 1;
    }

    Dialogs::SetMessageHandler([](const Dialogs::MessageRequest&) {});
    Dialogs::SetOpenFileHandler(
        [&](const Dialogs::OpenFileRequest&) { return std::optional<std::string>(clip.toStdString()); });
    StartProgram(application);
    auto* browse = Form1->findChild<QPushButton*>("Button1");

    std::vector<double> throughJob, direct;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(browse, Qt::LeftButton);
        throughJob.push_back(clock.nsecsElapsed() / 1e9);
        Form3->hide();
        Form1->show();

        QProcess conv;
        conv.setProcessChannelMode(QProcess::MergedChannels);
        clock.restart();
        conv.start(programFolder + "conv", {"-i", clip, "-vcodec", "flv", "-acodec", "mp3", "-s", "240x180",
                                            "-y", programFolder + "html/flvs/direct.flv"});
        conv.waitForFinished(-1);
        conv.readAll();
        direct.push_back(clock.nsecsElapsed() / 1e9);
        std::printf("round %d: job %.3f s, conv alone %.3f s\n", round + 1, throughJob.back(), direct.back());
    }
    const double job = median(throughJob), bare = median(direct);
    std::printf("median: job %.3f s, conv alone %.3f s, ratio %.4f (overhead %+.2f%%; target under 3%%)\n",
                job, bare, job / bare, (job / bare - 1) * 100);
    application.DestroyForms();
    return 0;
}
