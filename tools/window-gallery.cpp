// Shows each window of the program in turn on the current display and saves
// a picture of it, frame included, into the folder given as the argument
// (the settings window with a size, a buffer time and a colour chosen):
// main-window.png, settings-window.png, progress-window.png and
// publish-window.png (filled in as for a web host). Used to keep the
// pictures in docs/ in step with the window designs.
#include "app/ConvertDialogBox.h"
#include "app/ProgramWindows.h"
#include "app/PublishWindow.h"
#include "app/winapp.h"
#include "platform/Application.h"
#include "platform/ColorGrid.h"
#include "platform/RadioGroup.h"
#include "player/Unit3.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

#include <QDir>
#include <QElapsedTimer>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <cstdio>

namespace {

bool saveWindow(QWidget* window, const QString& path)
{
    window->show();
    window->raise();
    window->activateWindow();
    if (!QTest::qWaitForWindowExposed(window, 10000))
        return false;
    QTest::qWait(500);  // let the window manager draw the frame
    const QRect frame = window->frameGeometry();
    const QPixmap picture = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    window->hide();
    return picture.save(path);
}

// The settings window as a user leaves it after choosing: a size, a buffer
// time and a colour from the grid.
void chooseSettings()
{
    Form3->findChild<QComboBox*>("ComboBox1")->setCurrentIndex(1);
    Form3->findChild<TRadioGroup*>("RadioGroup1")->setItemIndex(1);
    auto* grid = Form3->findChild<TColorGrid*>("ColorGrid1");
    QTest::mouseClick(grid, Qt::LeftButton, {}, grid->CellRect(9).center());
}

// The publish window as a user fills it in for an SFTP web host.
void fillPublishWindow(QWidget* window)
{
    window->findChild<QLineEdit*>("Edit1")->setText("sftp://me@example.org/public_html/clips");
    window->findChild<QRadioButton*>("RadioButton1")->setChecked(true);
    window->findChild<QLineEdit*>("Edit2")->setText("/home/me/.ssh/id_ed25519");
    window->findChild<QLineEdit*>("Edit4")->setText("https://example.org/clips/");
    window->findChild<QLineEdit*>("Edit5")->setText("holiday.html");
}

}  // namespace

int main(int argc, char* argv[])
{
    TApplication application(argc, argv);
    TApplication::SetTitle("Ombrix Zudodira");
    if (argc != 2) {
        std::fprintf(stderr, "usage: window-gallery FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    CreateProgramWindows(application);
    chooseSettings();
    TPublishWindow publish;
    fillPublishWindow(&publish);
    const bool saved = saveWindow(Form1, folder.filePath("main-window.png")) &&
                       saveWindow(Form3, folder.filePath("settings-window.png")) &&
                       saveWindow(ConvertDialog, folder.filePath("progress-window.png")) &&
                       saveWindow(&publish, folder.filePath("publish-window.png"));
    if (!saved) {
        std::fprintf(stderr, "window-gallery: a window could not be shown or saved\n");
        return 1;
    }
    return 0;
}
