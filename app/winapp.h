#pragma once

#include <QPixmap>
#include <QWidget>

#include <memory>

#include <string>

// The main window: pick a video file and have it converted.
namespace Ui {
class TForm1;
}

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Set by a successful conversion, read by the page writer.
    std::string FlvFileName;
    std::string ClipLength;

private:
    std::unique_ptr<Ui::TForm1> ui;
};

// The banner decoded from JPEG bytes; an empty picture when the bytes are
// missing or damaged, so the window still opens without it.
QPixmap BannerPicture(const std::string& jpegBytes);

extern TForm1* Form1;
