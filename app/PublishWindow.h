#pragma once

#include "app/PublishSites.h"
#include "platform/Dialogs.h"
#include "publish/Publisher.h"

#include <QWidget>

#include <memory>

class TApplication;
namespace Ui {
class TPublishWindow;
}

// The publish window: where the player page goes (an SFTP, FTP or WebDAV
// address, or a folder), how to log in, the folder's public web address and
// the page's file name; "Publish" sends it on the engine's worker thread
// while this window shows the progress, and "Cancel" stops it. What was
// typed is kept per site in a short list, the last used picked first; the
// password only in the desktop's keyring, and only when asked to.
class TPublishWindow : public QWidget {
    Q_OBJECT

public:
    explicit TPublishWindow(QWidget* parent = nullptr);
    ~TPublishWindow() override;

    void Button1Click();  // "Browse..." for a destination folder
    void Button2Click();  // "Browse..." for the key file
    void Button3Click();  // "Publish"
    void Button4Click();  // "Cancel": stops a publish, or closes the window
    void Button5Click();  // "Forget": the chosen site and its password
    void LoginClick();    // a login kind chosen, or the destination changed
    void ComboBox1Change();  // another site chosen

    bool Publishing() const { return publishing; }

    // Where the settings are kept, for tests that keep them elsewhere.
    static QString SettingsFile();

signals:
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class PendingAnswers;

    void PublishProgress(const Publish::Progress& progress);
    void PublishFinished(const Publish::Result& result);
    void StopPublishing();
    void ShowState();
    void ShowSites(const QString& chosen);
    void ShowSite(const PublishSites::Site* site);
    void KeepPassword(const PublishSites::Site& site, bool rememberedBefore);
    void ForgetPassword(const QString& destination);
    Publish::LoginKind Login() const;

    std::unique_ptr<Ui::TPublishWindow> ui;
    QString htmlFolder;
    QList<PublishSites::Site> sites;
    QString keyringMissing;     // why "Remember password" is greyed; empty: a keyring is there
    QString publishedTo;        // the destination of the publish under way
    std::unique_ptr<Publish::Publisher> publisher;
    std::shared_ptr<PendingAnswers> pendingAnswers;
    bool publishing = false;
};

// The question about a server's key that this computer does not know yet:
// "Yes" (answer 0) trusts it; Enter and Escape answer "No".
Dialogs::ChoiceRequest HostKeyQuestionBox(const QString& host, const QString& fingerprint);

// The question about a TLS certificate the system does not trust: "Yes"
// (answer 0) pins it to the site; Enter and Escape answer "No".
Dialogs::ChoiceRequest CertificateQuestionBox(const QString& host, const QString& fingerprint, const QString& reason);

// The warning before a password first crosses the network readable (plain
// ftp:// and http://): "Publish" (answer 0) goes on; Enter and Escape do not.
Dialogs::ChoiceRequest PlainPasswordBox(const QString& destination);

// "Forget" asks first: "Forget" (answer 0) or "Cancel".
Dialogs::ChoiceRequest ForgetSiteBox(const QString& destination);

// What a successful publish says, with "Open", "Copy address" and "Close".
Dialogs::ChoiceRequest PublishedBox(const Publish::Result& result);

// "--publish" alone on the command line: the publish window instead of the
// wizard, until it is closed. Returns the process's exit code.
bool IsPublishWindowCommand(int argc, char* argv[]);
int RunPublishWindow(TApplication& application);
