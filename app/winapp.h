#pragma once

#include "doscommand/DosCommand.h"
#include "platform/OpenDialog.h"

#include <QPixmap>
#include <QWidget>

#include <memory>
#include <string>

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
    void CheckFileSize();
    void ProveriConverting();

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

private:
    std::string outputPath() const;
    void stopConversion(const std::string& message);

    std::unique_ptr<Ui::TForm1> ui;
};

// The banner decoded from JPEG bytes; an empty picture when the bytes are
// missing or damaged, so the window still opens without it.
QPixmap BannerPicture(const std::string& jpegBytes);

extern TForm1* Form1;
