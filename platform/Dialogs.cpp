#include "platform/Dialogs.h"

#include "platform/Application.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

namespace Dialogs {
namespace {

MessageHandler& messageHandler()
{
    static MessageHandler handler;
    return handler;
}

ShellOpenHandler& shellOpenHandler()
{
    static ShellOpenHandler handler;
    return handler;
}

unsigned& messagesShown()
{
    static unsigned count = 0;
    return count;
}

OpenFileHandler& openFileHandler()
{
    static OpenFileHandler handler;
    return handler;
}

ChoiceHandler& choiceHandler()
{
    static ChoiceHandler handler;
    return handler;
}

QString fromLocal(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
}

// What a title bar shows beside the caption: the window's icon and its
// buttons, and the space between them.
constexpr int kTitleBarExtras = 110;

void makeRoomForCaption(QMessageBox& box, const QString& caption)
{
    // Wide enough for the caption to show whole above a short message, in a
    // window manager's bold title with its icon and buttons beside it. The
    // room is a row of the box's layout: a minimum width on the text's own
    // label would make the box size itself to that minimum and cut a
    // longer text.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        QFont titleFont = box.font();
        titleFont.setBold(true);
        const int room = QFontMetrics(titleFont).horizontalAdvance(caption) + kTitleBarExtras;
        grid->addItem(new QSpacerItem(room, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
}

void showBox(QMessageBox::Icon icon, const std::string& text)
{
    const QString caption = fromLocal(TApplication::Title());
    QMessageBox box(icon, caption, fromLocal(text), QMessageBox::Ok);
    makeRoomForCaption(box, caption);
    box.exec();
}

int realChoiceBox(const ChoiceRequest& request)
{
    const QString caption = fromLocal(TApplication::Title());
    QMessageBox box(request.Question ? QMessageBox::Question : QMessageBox::NoIcon, caption,
                    fromLocal(request.Text), QMessageBox::NoButton);
    std::vector<QPushButton*> buttons;
    for (const std::string& answer : request.Answers)
        buttons.push_back(box.addButton(fromLocal(answer), QMessageBox::ActionRole));
    const auto valid = [&](int index) { return index >= 0 && index < int(buttons.size()); };
    if (valid(request.Default))
        box.setDefaultButton(buttons[size_t(request.Default)]);
    if (valid(request.Escape))
        box.setEscapeButton(buttons[size_t(request.Escape)]);
    makeRoomForCaption(box, caption);
    box.exec();
    for (size_t i = 0; i < buttons.size(); ++i)
        if (box.clickedButton() == buttons[i])
            return int(i);
    return request.Escape;
}

// "Video Files (avi) (*.avi; *.mpeg;)" style pattern lists become Qt's
// "(*.avi *.AVI *.mpeg *.MPEG)": file names on Linux are case-sensitive, and
// a clip named CLIP.AVI should be offered all the same.
QString qtFilter(const std::pair<std::string, std::string>& filter)
{
    QStringList patterns;
    for (QString pattern : fromLocal(filter.second).split(';', Qt::SkipEmptyParts)) {
        pattern = pattern.trimmed();
        if (pattern.isEmpty())
            continue;
        patterns << pattern;
        if (pattern != "*.*" && pattern.toUpper() != pattern)
            patterns << pattern.toUpper();
    }
    if (patterns.contains("*.*"))
        patterns = QStringList{"*"};
    return fromLocal(filter.first) + " (" + patterns.join(' ') + ")";
}

std::optional<std::string> realOpenFileDialog(const OpenFileRequest& request)
{
    QString startFolder;
    if (!request.InitialPath.empty()) {
        const QFileInfo initial(fromLocal(request.InitialPath));
        startFolder = request.Folder && initial.isDir() ? initial.absoluteFilePath() : initial.absolutePath();
    }
    if (startFolder.isEmpty() || !QDir(startFolder).exists()) {
        startFolder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
        if (!QDir(startFolder).exists())
            startFolder = QDir::homePath();
    }
    QStringList filters;
    for (const auto& filter : request.Filters)
        filters << qtFilter(filter);

    // Qt's own dialog looks and behaves the same on every desktop.
    QFileDialog dialog(nullptr, fromLocal(request.Title), startFolder);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (request.Folder) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters(filters);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first().toLocal8Bit().toStdString();
}

}  // namespace

void ShowMessage(const std::string& text)
{
    ++messagesShown();
    if (messageHandler())
        messageHandler()({MessageKind::Message, text});
    else
        showBox(QMessageBox::NoIcon, text);
}

std::string ErrorBoxText(const std::string& exceptionMessage)
{
    std::string text = exceptionMessage;
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.')
        text += '.';
    return text;
}

void ShowErrorBox(const std::string& exceptionMessage)
{
    const std::string text = ErrorBoxText(exceptionMessage);
    ++messagesShown();
    if (messageHandler())
        messageHandler()({MessageKind::Error, text});
    else
        showBox(QMessageBox::Critical, text);
}

unsigned MessagesShown()
{
    return messagesShown();
}

void ShellOpen(const std::string& address)
{
    if (shellOpenHandler())
        shellOpenHandler()(address);
    else
        QDesktopServices::openUrl(QUrl::fromUserInput(fromLocal(address)));
}

std::optional<std::string> AskOpenFileName(const OpenFileRequest& request)
{
    if (openFileHandler())
        return openFileHandler()(request);
    return realOpenFileDialog(request);
}

int AskChoice(const ChoiceRequest& request)
{
    ++messagesShown();
    if (choiceHandler())
        return choiceHandler()(request);
    return realChoiceBox(request);
}

MessageHandler SetMessageHandler(MessageHandler handler)
{
    return std::exchange(messageHandler(), std::move(handler));
}

ShellOpenHandler SetShellOpenHandler(ShellOpenHandler handler)
{
    return std::exchange(shellOpenHandler(), std::move(handler));
}

OpenFileHandler SetOpenFileHandler(OpenFileHandler handler)
{
    return std::exchange(openFileHandler(), std::move(handler));
}

ChoiceHandler SetChoiceHandler(ChoiceHandler handler)
{
    return std::exchange(choiceHandler(), std::move(handler));
}

}  // namespace Dialogs
