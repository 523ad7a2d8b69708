#pragma once

#include "app/HtmlServer.h"
#include "base/Files.h"

#include <QWidget>

#include <memory>

class TApplication;
class TPublishWindow;
namespace Ui {
class TPreviewWindow;
}

// The small window of the preview: the address the page is served at
// (selectable, to paste into another browser), "Open in browser", "Stop",
// and "Publish..." for the publish window.
class TPreviewWindow : public QWidget {
    Q_OBJECT

public:
    explicit TPreviewWindow(const QString& address, QWidget* parent = nullptr);
    ~TPreviewWindow() override;

    void Button1Click();  // "Open in browser"
    void Button2Click();  // "Stop"
    void Button3Click();  // "Publish..."

    // Opens the address in the user's browser without putting it on any
    // command line, where every local user could read the secret: the
    // browser is given a private page that sends it on to the address.
    void OpenInBrowser();
    // The browser has come to the landing page: the page that led it is removed.
    void BrowserArrived();

signals:
    // The window was closed, by "Stop" or its close box: the preview ends.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::TPreviewWindow> ui;
    QString address;
    std::unique_ptr<Files::TPrivateFile> redirect;
    std::unique_ptr<TPublishWindow> publishWindow;
};

// The preview as it runs: the program folder's html/ served on loopback
// under a secret path, with an index page at that path that loads Ruffle and
// frames the page.
struct Preview {
    std::unique_ptr<HtmlServer> Server;
    std::unique_ptr<TPreviewWindow> Window;
};

// Starts the preview of the page in the program folder: serves it, prints
// the address (which carries the secret) on standard output, shows the
// window and opens the address in the user's browser (OpenInBrowser);
// closing the window stops the server. Without a page,
// or without a port, it tells the user why and gives nothing.
std::unique_ptr<Preview> StartPreview();

// "--preview" on the command line: the preview instead of the wizard, until
// its window is closed; TERM, HUP and INT end it the same way. Returns the
// process's exit code.
bool IsPreviewCommand(int argc, char* argv[]);
int RunPreview(TApplication& application);
