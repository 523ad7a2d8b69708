#pragma once

#include <QWidget>

#include <memory>
#include <string>

namespace Ui {
class TForm3;
}

// The player settings window: size, buffer time, button colour, automatic
// start and link, and the page writer behind "Generate Player".
class TForm3 : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
    ~TForm3() override;

    // Shows the window for the clip the page will play: its file name in
    // html/flvs/ and its length in whole seconds.
    void ShowClip(const std::string& flvFileName, const std::string& clipLength);

    void FormCreate();
    void OnActivate();
    void FormClose();

    void Button1Click();  // "Generate Player": writes the page
    void Button2Click();  // "Convert Another Clip"
    void CheckBox2Click();
    void ColorGrid1Click();
    void Edit3Exit();
    void UrlMailClick(QObject* Sender);

signals:
    // "Convert Another Clip": the main window takes over again.
    void anotherClipRequested();
    // The window was closed while the user worked in it: the program ends.
    void programEndRequested();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void preview(const std::string& colourText);

    std::unique_ptr<Ui::TForm3> ui;
    std::string flvFileName;
    std::string clipLength;
};

// Whether closing the settings window ends the program: true while it is the
// window the user works in, false once "Convert Another Clip" hands back.
extern bool SettingsActive;

// Whether the typed colour in the settings window passed its check, so that
// it, not the grid, gives the page's button colour.
extern bool CustomColorValid;

extern TForm3* Form3;
