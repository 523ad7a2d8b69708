#pragma once

#include <QWidget>

#include <memory>

// The player settings window: size, buffer time, button colour, automatic
// start and link, and the page writer behind "Generate Player".
namespace Ui {
class TForm3;
}

class TForm3 : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
    ~TForm3() override;

    void OnActivate();
    void Button2Click();
    void FormClose();
    void UrlMailClick(QObject* Sender);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::TForm3> ui;
};

// Whether closing the settings window ends the program: true while it is the
// window the user works in, false once "Convert Another Clip" hands back.
extern bool SettingsActive;

extern TForm3* Form3;
