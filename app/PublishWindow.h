#pragma once

#include "platform/Dialogs.h"
#include "publish/Publisher.h"

#include <QWidget>

#include <memory>

class TApplication;
namespace Ui {
class TPublishWindow;
}

// The publish window: where the player page goes (an SFTP address or a
// folder), how to log in, the folder's public web address and the page's
// file name; "Publish" sends it on the engine's worker thread while this
// window shows the progress, and "Cancel" stops it. What was typed, all but
// the password, is there again next time.
class TPublishWindow : public QWidget {
    Q_OBJECT

public:
    explicit TPublishWindow(QWidget* parent = nullptr);
    ~TPublishWindow() override;

    void Button1Click();  // "Browse..." for a destination folder
    void Button2Click();  // "Browse..." for the key file
    void Button3Click();  // "Publish"
    void Button4Click();  // "Cancel": stops a publish, or closes the window
    void LoginClick();    // a login kind chosen, or the destination changed

    bool Publishing() const { return publishing; }

    // Where the settings are kept, for tests that keep them elsewhere.
    static QString SettingsFile();

signals:
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class PendingAnswer;

    void PublishProgress(const Publish::Progress& progress);
    void PublishFinished(const Publish::Result& result);
    bool AskHostKey(const QString& host, const QString& fingerprint);
    void StopPublishing();
    void ShowState();
    void LoadSettings();
    void SaveSettings();
    Publish::LoginKind Login() const;

    std::unique_ptr<Ui::TPublishWindow> ui;
    QString htmlFolder;
    std::unique_ptr<Publish::Publisher> publisher;
    std::shared_ptr<PendingAnswer> pendingAnswer;
    bool publishing = false;
};

// The question about a server's key that this computer does not know yet:
// "Yes" (answer 0) trusts it; Enter and Escape answer "No".
Dialogs::ChoiceRequest HostKeyQuestionBox(const QString& host, const QString& fingerprint);

// What a successful publish says, with "Open", "Copy address" and "Close".
Dialogs::ChoiceRequest PublishedBox(const Publish::Result& result);

// "--publish" alone on the command line: the publish window instead of the
// wizard, until it is closed. Returns the process's exit code.
bool IsPublishWindowCommand(int argc, char* argv[]);
int RunPublishWindow(TApplication& application);
