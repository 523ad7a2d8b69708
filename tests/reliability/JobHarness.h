#pragma once

// A program folder with a fake converter, the three windows, and "Browse"
// answered with a chosen clip: the conversion job as a user runs it, for
// tests that make the converter, the disk or the input misbehave.
#include "app/ConvertDialogBox.h"
#include "app/ProgramWindows.h"
#include "app/winapp.h"
#include "player/Unit3.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QPushButton>

#include <fcntl.h>
#include <unistd.h>

namespace TestSupport {

inline const std::string Started = "Converting is started. Click \"OK\" to continue";
inline const std::string ReadOnly = "Input file is read only";
inline const std::string HasErrors = "The input video file has errors. Please check video file.";
inline const std::string Unsuccessful =
    "Unsucessufull converting, possible codec error. Please see codec list.";
inline const std::string Successful = "Sucessufull converting";
using Texts = std::vector<std::string>;

class JobHarness {
public:
    JobHarness()
    {
        input = folder.Path() + "clip.avi";
        output = folder.Path() + "html/flvs/clip.flv";
        const int fd = ::open(input.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::ftruncate(fd, 100000) != 0)
            qFatal("cannot make the input");
        ::close(fd);
        QFile::copy(FAKECONV_PATH, folder.QPath() + "conv");
        QFile::setPermissions(folder.QPath() + "conv",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        previousOpen = Dialogs::SetOpenFileHandler(
            [this](const Dialogs::OpenFileRequest&) { return std::optional<std::string>(input); });
        StartProgram(Application());
    }
    ~JobHarness()
    {
        Application().DestroyForms();
        Dialogs::SetOpenFileHandler(std::move(previousOpen));
        qunsetenv("FAKECONV");
    }

    static TApplication& Application() { return *static_cast<TApplication*>(QCoreApplication::instance()); }

    // "Browse" with the fake converter following the steps; returns once the
    // job is over.
    void Browse(const std::string& steps)
    {
        qputenv("FAKECONV", QByteArray::fromStdString(steps));
        Form3->hide();
        Form1->show();
        QTest::mouseClick(Form1->findChild<QPushButton*>("Button1"), Qt::LeftButton);
    }

    // The texts of the job just run, and a fresh list for the next.
    Texts TakeTexts()
    {
        Texts texts = dialogs.Texts();
        dialogs.Messages.clear();
        return texts;
    }

    TempProgramFolder folder;
    DialogRecorder dialogs;
    std::string input;
    std::string output;

private:
    Dialogs::OpenFileHandler previousOpen;
};

}  // namespace TestSupport
