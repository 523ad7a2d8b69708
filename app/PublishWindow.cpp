#include "app/PublishWindow.h"

#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/ProgramFolder.h"
#include "ui_PublishWindow.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QLocale>
#include <QSettings>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>

namespace {

QString fromLocal(const std::string& text)
{
    return QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
}

std::string toLocal(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

// Kept apart from anything a clip or page holds; the password never goes in.
QSettings settings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ombrix-zudodira"),
                     QStringLiteral("publish"));
}

const char* loginName(Publish::LoginKind kind)
{
    switch (kind) {
    case Publish::LoginKind::KeyFile:
        return "key file";
    case Publish::LoginKind::Password:
        return "password";
    case Publish::LoginKind::Agent:
        break;
    }
    return "agent";
}

bool isSftp(const QString& destination)
{
    return destination.trimmed().startsWith(QStringLiteral("sftp://"), Qt::CaseInsensitive);
}

}  // namespace

Dialogs::ChoiceRequest HostKeyQuestionBox(const QString& host, const QString& fingerprint)
{
    const QString shown = fingerprint.startsWith(QStringLiteral("SHA256:")) ? fingerprint : "SHA256:" + fingerprint;
    Dialogs::ChoiceRequest question;
    question.Text = toLocal(QStringLiteral("This computer does not know the server %1 yet. Its key's "
                                           "fingerprint is\n\n%2\n\nTrust this server from now on? Answer "
                                           "\"Yes\" only if your web host gives the same fingerprint.")
                                .arg(host, shown));
    question.Answers = {"Yes", "No"};
    // A stray Enter must not trust a stranger.
    question.Default = 1;
    question.Escape = 1;
    question.Question = true;
    return question;
}

Dialogs::ChoiceRequest PublishedBox(const Publish::Result& result)
{
    Dialogs::ChoiceRequest done;
    done.Text = toLocal(result.Message.isEmpty() ? QStringLiteral("Your clip is on the web at %1").arg(result.PageAddress)
                                                 : result.Message);
    done.Answers = {"Open", "Copy address", "Close"};
    done.Escape = 2;
    return done;
}

// The engine asks about an unknown host key on its worker thread, but only
// the window thread may show the question. The worker waits here for the
// answer; cancelling, or the window going away, answers "no" for the user so
// that the worker never waits on a window thread that no longer listens.
class TPublishWindow::PendingAnswer {
public:
    bool Wait()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return answer.has_value() || dropped; });
        return answer.value_or(false) && !dropped;
    }
    void Give(bool yes)
    {
        const std::lock_guard lock(mutex);
        answer = yes;
        changed.notify_all();
    }
    void Drop()
    {
        const std::lock_guard lock(mutex);
        dropped = true;
        changed.notify_all();
    }
    bool Dropped()
    {
        const std::lock_guard lock(mutex);
        return dropped;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<bool> answer;
    bool dropped = false;
};

TPublishWindow::TPublishWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      ui(std::make_unique<Ui::TPublishWindow>()),
      htmlFolder(Platform::HtmlFolder())
{
    ui->setupUi(this);
    ui->RadioButton2->setChecked(true);
    // The bar shows only while publishing, in a place kept for it, so that
    // nothing moves when it comes.
    QSizePolicy barPolicy = ui->ProgressBar1->sizePolicy();
    barPolicy.setRetainSizeWhenHidden(true);
    ui->ProgressBar1->setSizePolicy(barPolicy);
    connect(ui->Button1, &QPushButton::clicked, this, Guarded([this] { Button1Click(); }));
    connect(ui->Button2, &QPushButton::clicked, this, Guarded([this] { Button2Click(); }));
    connect(ui->Button3, &QPushButton::clicked, this, Guarded([this] { Button3Click(); }));
    connect(ui->Button4, &QPushButton::clicked, this, Guarded([this] { Button4Click(); }));
    for (QRadioButton* login : {ui->RadioButton1, ui->RadioButton2, ui->RadioButton3})
        connect(login, &QRadioButton::toggled, this, Guarded([this] { LoginClick(); }));
    connect(ui->Edit1, &QLineEdit::textChanged, this, Guarded([this] { LoginClick(); }));
    LoadSettings();
    ShowState();
}

TPublishWindow::~TPublishWindow()
{
    // Unblocks a worker waiting for a host-key answer before the engine
    // waits for its worker.
    if (pendingAnswer)
        pendingAnswer->Drop();
    publisher.reset();
}

QString TPublishWindow::SettingsFile()
{
    return settings().fileName();
}

Publish::LoginKind TPublishWindow::Login() const
{
    if (ui->RadioButton1->isChecked())
        return Publish::LoginKind::KeyFile;
    if (ui->RadioButton3->isChecked())
        return Publish::LoginKind::Password;
    return Publish::LoginKind::Agent;
}

void TPublishWindow::LoadSettings()
{
    QSettings stored = settings();
    ui->Edit1->setText(stored.value("destination").toString());
    const QString login = stored.value("login").toString();
    if (login == loginName(Publish::LoginKind::KeyFile))
        ui->RadioButton1->setChecked(true);
    else if (login == loginName(Publish::LoginKind::Password))
        ui->RadioButton3->setChecked(true);
    ui->Edit2->setText(stored.value("keyFile").toString());
    ui->Edit4->setText(stored.value("publicAddress").toString());
    // Each clip has its page: a name typed for one clip is not offered for
    // the next, which would overwrite the first clip's page.
    const QString clipPage = Publish::DefaultPageName(htmlFolder);
    const QString typed = stored.value("pageName").toString();
    ui->Edit5->setText(!typed.isEmpty() && stored.value("pageNameFor").toString() == clipPage ? typed : clipPage);
}

void TPublishWindow::SaveSettings()
{
    QSettings stored = settings();
    stored.setValue("destination", ui->Edit1->text().trimmed());
    stored.setValue("login", loginName(Login()));
    stored.setValue("keyFile", ui->Edit2->text().trimmed());
    stored.setValue("publicAddress", ui->Edit4->text().trimmed());
    stored.setValue("pageName", ui->Edit5->text().trimmed());
    stored.setValue("pageNameFor", Publish::DefaultPageName(htmlFolder));
}

void TPublishWindow::ShowState()
{
    const bool sftp = isSftp(ui->Edit1->text());
    for (QWidget* input : std::initializer_list<QWidget*>{ui->Edit1, ui->Button1, ui->Edit4, ui->Edit5})
        input->setEnabled(!publishing);
    for (QWidget* login : std::initializer_list<QWidget*>{ui->Label2, ui->RadioButton1, ui->RadioButton2,
                                                          ui->RadioButton3})
        login->setEnabled(!publishing && sftp);
    ui->Edit2->setEnabled(!publishing && sftp && Login() == Publish::LoginKind::KeyFile);
    ui->Button2->setEnabled(ui->Edit2->isEnabled());
    ui->Edit3->setEnabled(!publishing && sftp && Login() == Publish::LoginKind::Password);
    ui->Button3->setEnabled(!publishing);
    ui->ProgressBar1->setVisible(publishing);
}

void TPublishWindow::LoginClick()
{
    ShowState();
}

void TPublishWindow::Button1Click()
{
    Dialogs::OpenFileRequest request;
    request.Title = "Choose the folder to publish to";
    request.InitialPath = isSftp(ui->Edit1->text()) ? std::string() : toLocal(ui->Edit1->text().trimmed());
    request.Folder = true;
    if (const auto chosen = Dialogs::AskOpenFileName(request))
        ui->Edit1->setText(fromLocal(*chosen));
}

void TPublishWindow::Button2Click()
{
    Dialogs::OpenFileRequest request;
    request.Title = "Choose your SSH private key";
    request.Filters = {{"All files", "*.*"}};
    request.InitialPath = ui->Edit2->text().isEmpty() ? toLocal(QDir::home().filePath(".ssh/id_ed25519"))
                                                      : toLocal(ui->Edit2->text().trimmed());
    if (const auto chosen = Dialogs::AskOpenFileName(request)) {
        ui->Edit2->setText(fromLocal(*chosen));
        ui->RadioButton1->setChecked(true);
    }
}

void TPublishWindow::Button3Click()
{
    if (publishing)
        return;
    Publish::Request request;
    request.HtmlFolder = htmlFolder;
    request.Destination = ui->Edit1->text().trimmed();
    request.Login = Login();
    request.KeyFile = ui->Edit2->text().trimmed();
    request.Password = ui->Edit3->text();
    request.PublicAddress = ui->Edit4->text().trimmed();
    request.PageName = ui->Edit5->text().trimmed();
    if (request.PageName.isEmpty())
        request.PageName = Publish::DefaultPageName(htmlFolder);
    if (request.PageName.isEmpty()) {
        Dialogs::ShowMessage("There is no player page to publish yet. Convert a clip and press \"Generate "
                             "Player\" first, then publish again.");
        return;
    }
    if (request.Destination.isEmpty()) {
        Dialogs::ShowMessage("Please enter where to publish: an SFTP address or a folder.");
        ui->Edit1->setFocus();
        return;
    }
    if (isSftp(request.Destination) && request.Login == Publish::LoginKind::KeyFile && request.KeyFile.isEmpty()) {
        Dialogs::ShowMessage("Please choose your SSH key file.");
        return;
    }
    ui->Edit5->setText(request.PageName);
    SaveSettings();

    if (pendingAnswer)
        pendingAnswer->Drop();
    pendingAnswer = std::make_shared<PendingAnswer>();
    publisher = std::make_unique<Publish::Publisher>();
    connect(publisher.get(), &Publish::Publisher::ProgressChanged, this,
            [this](const Publish::Progress& progress) { Guarded([&] { PublishProgress(progress); })(); });
    connect(publisher.get(), &Publish::Publisher::Finished, this,
            [this](const Publish::Result& result) { Guarded([&] { PublishFinished(result); })(); });
    publishing = true;
    ui->ProgressBar1->setValue(0);
    ui->Label5->setText("Starting...");
    ShowState();
    ui->Button4->setFocus();
    publisher->Start(request, [this, pending = pendingAnswer](const QString& host, const QString& fingerprint) {
        if (pending->Dropped())
            return false;
        QMetaObject::invokeMethod(
            this,
            [this, pending, host, fingerprint] {
                if (!pending->Dropped())
                    pending->Give(AskHostKey(host, fingerprint));
            },
            Qt::QueuedConnection);
        return pending->Wait();
    });
}

bool TPublishWindow::AskHostKey(const QString& host, const QString& fingerprint)
{
    return Dialogs::AskChoice(HostKeyQuestionBox(host, fingerprint)) == 0;
}

void TPublishWindow::PublishProgress(const Publish::Progress& progress)
{
    if (!publishing)
        return;
    if (progress.BytesTotal > 0)
        ui->ProgressBar1->setValue(int(progress.BytesDone * ui->ProgressBar1->maximum() / progress.BytesTotal));
    // Between the files the engine says what it does (looking at the site,
    // checking the page on the web) in place of a file name.
    if (progress.FilesTotal == 0 || progress.FilesDone == progress.FilesTotal) {
        ui->Label5->setText(progress.File);
        return;
    }
    const QLocale locale;
    ui->Label5->setText(QStringLiteral("Sending %1: file %2 of %3, %4 of %5")
                            .arg(progress.File)
                            .arg(progress.FilesDone + 1)
                            .arg(progress.FilesTotal)
                            .arg(locale.formattedDataSize(progress.BytesDone),
                                 locale.formattedDataSize(progress.BytesTotal)));
}

void TPublishWindow::StopPublishing()
{
    if (pendingAnswer)
        pendingAnswer->Drop();
    if (publisher)
        publisher->Cancel();
}

void TPublishWindow::PublishFinished(const Publish::Result& result)
{
    if (!publishing)
        return;
    publishing = false;
    ShowState();
    if (result.Cancelled) {
        ui->Label5->setText(result.Message.isEmpty() ? QStringLiteral("Cancelled.") : result.Message);
        return;
    }
    if (!result.Ok) {
        ui->Label5->setText("Not published.");
        Dialogs::ShowErrorBox(toLocal(result.Message));
        return;
    }
    ui->Label5->setText("Published: " + result.PageAddress);
    switch (Dialogs::AskChoice(PublishedBox(result))) {
    case 0:
        Dialogs::ShellOpen(toLocal(result.PageAddress));
        break;
    case 1:
        QGuiApplication::clipboard()->setText(result.PageAddress);
        break;
    default:
        break;
    }
}

void TPublishWindow::Button4Click()
{
    if (publishing) {
        ui->Label5->setText("Cancelling...");
        StopPublishing();
    } else {
        close();
    }
}

void TPublishWindow::closeEvent(QCloseEvent* event)
{
    // The window may go while the work goes on; the engine then cleans up
    // after itself and nothing more is shown.
    if (publishing) {
        StopPublishing();
        publishing = false;
        ShowState();
    }
    QWidget::closeEvent(event);
    emit Closed();
}

bool IsPublishWindowCommand(int argc, char* argv[])
{
    return argc == 2 && std::strcmp(argv[1], "--publish") == 0;
}

int RunPublishWindow(TApplication& application)
{
    TApplication::SetTitle("Ombrix Zudodira");
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/designs/icon.png")));
    TPublishWindow window;
    // The program keeps running while windows are hidden (see TApplication),
    // so the window ends the program itself when it closes.
    QObject::connect(&window, &TPublishWindow::Closed, &application, &QCoreApplication::quit, Qt::QueuedConnection);
    window.show();
    return application.exec();
}
