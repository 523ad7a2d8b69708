#pragma once

#include "doscommand/DosCommand.h"
#include "platform/OpenDialog.h"

#include <QPixmap>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>

class QMimeData;

namespace Ui {
class TForm1;
}

// The main window: pick a video file and have the converter turn it into an
// FLV clip in html/flvs/; on success the settings window takes over.
class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The conversion job behind "Browse".
    void Button1Click();
    // A video that came without "Browse" (dropped on the window, named on
    // the command line): the job runs as if it had been chosen in the dialog.
    void OpenVideo(const std::string& path);
    void CheckFileSize();
    void ProveriConverting();

    // The program is asked to end: a conversion under way is stopped as the
    // watchdog stops one, without a word, so that no torn clip is left.
    void StopForProgramEnd();

    // The runner's callbacks, on its worker thread.
    void PrikaziOutput(QObject* Sender, std::string NewLine, TOutputType OutputType);
    void ConvertZavrshi(QObject* Sender);

    TOpenDialog OpenDialog1;
    TDosCommand* DosCommand1;

    // Everything the converter wrote in the current job.
    std::string ConvertOutput;
    // The clip's length in whole seconds, from the last conversion's end.
    std::string ClipLength;
    // The converted clip's file name, set when a conversion succeeds.
    std::string FlvFileName;
    // Set when the watchdog stopped the conversion.
    bool ConvertFailed = false;

signals:
    // The conversion succeeded: the settings window takes over with the clip.
    void clipConverted(const std::string& flvFileName, const std::string& clipLength);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    std::string outputPath() const;
    void stopConversion(const std::string& message);

    std::unique_ptr<Ui::TForm1> ui;
};

// The one local file a drag carries, as the open-file dialog would give
// it; nothing for folders, several files or anything else.
std::optional<std::string> DroppedFile(const QMimeData* data);

// The banner decoded from JPEG bytes; an empty picture when the bytes are
// missing or damaged, so the window still opens without it.
QPixmap BannerPicture(const std::string& jpegBytes);

extern TForm1* Form1;
