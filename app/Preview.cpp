#include "app/Preview.h"

#include "app/PublishWindow.h"
#include "base/Descriptors.h"
#include "base/Exceptions.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/EndSignals.h"
#include "platform/ProgramFolder.h"
#include "ui_PreviewWindow.h"

#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QUrl>

#include <cstdio>
#include <cstring>

namespace {

// The site page is shown as written, in a frame: it loads Ruffle with its
// own configuration, so the preview plays as visitors' browsers will.
const char* const IndexPage = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>Ombrix Zudodira: player page</title></head>
<body style="margin:0">
<iframe src="SitePage.html" title="Player page" style="border:0;display:block;width:100%;height:100vh"></iframe>
</body></html>
)";

// What the browser is handed: it goes on to address at once, by itself or,
// where refreshing is turned off, by a click.
QByteArray redirectPage(const QString& address)
{
    const QByteArray to = address.toHtmlEscaped().toUtf8();
    return "<!doctype html>\n<html><head><meta charset=\"utf-8\">"
           "<meta http-equiv=\"refresh\" content=\"0; url=" + to + "\">"
           "<title>Ombrix Zudodira: player page</title></head>\n"
           "<body><p><a href=\"" + to + "\">Open the player page</a></p></body></html>\n";
}

}  // namespace

TPreviewWindow::TPreviewWindow(const QString& address, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TPreviewWindow>()), address(address)
{
    ui->setupUi(this);
    ui->Label2->setText(address);
    connect(ui->Button1, &QPushButton::clicked, this, Guarded([this] { Button1Click(); }));
    connect(ui->Button2, &QPushButton::clicked, this, Guarded([this] { Button2Click(); }));
    connect(ui->Button3, &QPushButton::clicked, this, Guarded([this] { Button3Click(); }));
}

TPreviewWindow::~TPreviewWindow() = default;

void TPreviewWindow::Button1Click()
{
    OpenInBrowser();
}

void TPreviewWindow::OpenInBrowser()
{
    redirect.reset();
    try {
        redirect = std::make_unique<Files::TPrivateFile>("preview-", ".html", redirectPage(address).toStdString());
    } catch (const EInOutError& error) {
        Dialogs::ShowMessage("The preview cannot hand its address to your browser privately (" +
                             std::string(error.what()) + "). Copy the address from this window into your browser.");
        return;
    }
    Dialogs::ShellOpen(QUrl::fromLocalFile(QString::fromStdString(redirect->Path())).toString().toStdString());
}

void TPreviewWindow::BrowserArrived()
{
    redirect.reset();
}

void TPreviewWindow::Button2Click()
{
    close();
}

void TPreviewWindow::Button3Click()
{
    if (!publishWindow)
        publishWindow = std::make_unique<TPublishWindow>();
    publishWindow->show();
    publishWindow->raise();
    publishWindow->activateWindow();
}

void TPreviewWindow::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    redirect.reset();
    emit Closed();
}

std::unique_ptr<Preview> StartPreview()
{
    const QString html = Platform::HtmlFolder();
    if (!QFileInfo(QDir(html).filePath("TempHtml.html")).isFile()) {
        const char* const text =
            "There is no player page to preview yet. Convert a clip and press "
            "\"Generate Player\" first, then start the preview again.";
        std::fprintf(stderr, "%s\n", text);
        Dialogs::ShowMessage(text);
        return nullptr;
    }
    auto preview = std::make_unique<Preview>();
    preview->Server = std::make_unique<HtmlServer>(html);
    preview->Server->AddPage("/", IndexPage);
    if (!preview->Server->Start()) {
        Dialogs::ShowMessage("The preview cannot listen on 127.0.0.1.");
        return nullptr;
    }
    const QString address = preview->Server->Url("/");
    std::printf("%s\n", qPrintable(address));
    std::fflush(stdout);
    preview->Window = std::make_unique<TPreviewWindow>(address);
    HtmlServer* server = preview->Server.get();
    QObject::connect(preview->Window.get(), &TPreviewWindow::Closed, server, &HtmlServer::Stop);
    QObject::connect(server, &HtmlServer::LandingPageAsked, preview->Window.get(), &TPreviewWindow::BrowserArrived);
    preview->Window->show();
    preview->Window->OpenInBrowser();
    return preview;
}

bool IsPreviewCommand(int argc, char* argv[])
{
    return argc == 2 && std::strcmp(argv[1], "--preview") == 0;
}

int RunPreview(TApplication& application)
{
    TApplication::SetTitle("Ombrix Zudodira");
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/designs/icon.png")));
    // Room for the browser's connections beside whatever else is open.
    Platform::RaiseDescriptorLimit();
    // Logging out or closing the terminal ends the preview as its window
    // does, so the page handed to the browser goes too.
    int endedBy = 0, status = 0;
    const TEndSignals endSignals([&endedBy](int signal) {
        endedBy = signal;
        QCoreApplication::quit();
    });
    {
        const std::unique_ptr<Preview> preview = StartPreview();
        if (!preview)
            return 1;
        // The program keeps running while windows are hidden (see
        // TApplication), so the preview ends itself.
        QObject::connect(preview->Window.get(), &TPreviewWindow::Closed, &application, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        if (!endedBy)
            status = application.exec();
    }
    if (endedBy)
        TEndSignals::EndBySignal(endedBy);
    return status;
}
