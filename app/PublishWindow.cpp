#include "app/PublishWindow.h"

#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/Keyring.h"
#include "platform/ProgramFolder.h"
#include "publish/Plan.h"
#include "ui_PublishWindow.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QLocale>
#include <QSettings>
#include <QSignalBlocker>

#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
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

using Protocol = Publish::Destination::Protocol;

// What the typed destination names; a text that names nothing yet counts as
// a folder, which asks for no login.
Publish::Destination destinationOf(const QString& text)
{
    QString error;
    return Publish::ParseDestination(text.trimmed(), &error).value_or(Publish::Destination{});
}

// A question whose careless answer would cost: Enter and Escape both give
// the second, safe answer.
Dialogs::ChoiceRequest carefulQuestion(const QString& text, std::vector<std::string> answers)
{
    Dialogs::ChoiceRequest question;
    question.Text = toLocal(text);
    question.Answers = std::move(answers);
    question.Default = 1;
    question.Escape = 1;
    question.Question = true;
    return question;
}

}  // namespace

Dialogs::ChoiceRequest HostKeyQuestionBox(const QString& host, const QString& fingerprint)
{
    const QString shown =
        fingerprint.startsWith(QStringLiteral("SHA256:")) ? fingerprint : "SHA256:" + fingerprint;
    return carefulQuestion(QStringLiteral("This computer does not know the server %1 yet. Its key's "
                                          "fingerprint is\n\n%2\n\nTrust this server from now on? Answer "
                                          "\"Yes\" only if your web host gives the same fingerprint.")
                               .arg(host, shown),
                           {"Yes", "No"});
}

Dialogs::ChoiceRequest CertificateQuestionBox(const QString& host, const QString& fingerprint,
                                              const QString& reason)
{
    return carefulQuestion(
        QStringLiteral("The server %1 shows a certificate this computer does not trust: %2.\n\n"
                       "Its SHA-256 fingerprint is\n%3\n\nTrust this certificate for this site? "
                       "Answer \"Yes\" only if your web host gives the same fingerprint.")
            .arg(host, reason, fingerprint),
        {"Yes", "No"});
}

Dialogs::ChoiceRequest PlainPasswordBox(const QString& destination)
{
    return carefulQuestion(
        QStringLiteral("%1 is reached without encryption: your password and your files cross "
                       "the network readable by anyone on the way.\n\nPublish there anyway? "
                       "Choose an ftps:// or https:// address if your web host offers one.")
            .arg(destination),
        {"Publish", "Cancel"});
}

Dialogs::ChoiceRequest ForgetSiteBox(const QString& destination)
{
    return carefulQuestion(
        QStringLiteral("Forget the site %1, and its password if one is remembered?").arg(destination),
        {"Forget", "Cancel"});
}

Dialogs::ChoiceRequest PublishedBox(const Publish::Result& result)
{
    Dialogs::ChoiceRequest done;
    done.Text = toLocal(result.Message.isEmpty()
                            ? QStringLiteral("Your clip is on the web at %1").arg(result.PageAddress)
                            : result.Message);
    done.Answers = {"Open", "Copy address", "Close"};
    done.Escape = 2;
    return done;
}

// The engine asks about an unknown host key or certificate on its worker
// thread, but only the window thread may show the question. The worker waits
// here for the answer; cancelling, or the window going away, answers "no"
// for the user so that the worker never waits on a window thread that no
// longer listens.
class TPublishWindow::PendingAnswers : public std::enable_shared_from_this<PendingAnswers> {
public:
    // On the worker thread: `question` runs on `window`'s thread.
    bool Ask(QObject* window, std::function<bool()> question)
    {
        auto answer = std::make_shared<std::optional<bool>>();
        if (Dropped())
            return false;
        QMetaObject::invokeMethod(
            window,
            [self = shared_from_this(), answer, question = std::move(question)] {
                if (self->Dropped())
                    return;
                const bool yes = question();
                const std::lock_guard lock(self->mutex);
                *answer = yes;
                self->changed.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return answer->has_value() || dropped; });
        return !dropped && answer->value_or(false);
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
    bool dropped = false;
};

TPublishWindow::TPublishWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      ui(std::make_unique<Ui::TPublishWindow>()),
      htmlFolder(Platform::HtmlFolder()),
      keyringMissing(Keyring::Unreachable())
{
    ui->setupUi(this);
    ui->RadioButton2->setChecked(true);
    // The bar shows only while publishing, in a place kept for it, so that
    // nothing moves when it comes.
    QSizePolicy barPolicy = ui->ProgressBar1->sizePolicy();
    barPolicy.setRetainSizeWhenHidden(true);
    ui->ProgressBar1->setSizePolicy(barPolicy);
    if (!keyringMissing.isEmpty())
        ui->Label7->setText(QStringLiteral("(%1)").arg(keyringMissing));
    connect(ui->Button1, &QPushButton::clicked, this, Guarded([this] { Button1Click(); }));
    connect(ui->Button2, &QPushButton::clicked, this, Guarded([this] { Button2Click(); }));
    connect(ui->Button3, &QPushButton::clicked, this, Guarded([this] { Button3Click(); }));
    connect(ui->Button4, &QPushButton::clicked, this, Guarded([this] { Button4Click(); }));
    connect(ui->Button5, &QPushButton::clicked, this, Guarded([this] { Button5Click(); }));
    for (QRadioButton* login : {ui->RadioButton1, ui->RadioButton2, ui->RadioButton3})
        connect(login, &QRadioButton::toggled, this, Guarded([this] { LoginClick(); }));
    connect(ui->Edit1, &QLineEdit::textChanged, this, Guarded([this] { LoginClick(); }));
    connect(ui->ComboBox1, &QComboBox::currentIndexChanged, this, Guarded([this] { ComboBox1Change(); }));
    QSettings stored = PublishSites::Settings();
    sites = PublishSites::Load(stored);
    ShowSites(sites.isEmpty() ? QString() : sites.front().Destination);
    ShowSite(sites.isEmpty() ? nullptr : &sites.front());
}

TPublishWindow::~TPublishWindow()
{
    // Unblocks a worker waiting for an answer before the engine waits for
    // its worker.
    if (pendingAnswers)
        pendingAnswers->Drop();
    publisher.reset();
}

QString TPublishWindow::SettingsFile()
{
    return PublishSites::Settings().fileName();
}

Publish::LoginKind TPublishWindow::Login() const
{
    if (destinationOf(ui->Edit1->text()).PasswordOnly())
        return Publish::LoginKind::Password;
    if (ui->RadioButton1->isChecked())
        return Publish::LoginKind::KeyFile;
    if (ui->RadioButton3->isChecked())
        return Publish::LoginKind::Password;
    return Publish::LoginKind::Agent;
}

// The list shows the remembered sites and, last, a new one.
void TPublishWindow::ShowSites(const QString& chosen)
{
    const QSignalBlocker quiet(ui->ComboBox1);
    ui->ComboBox1->clear();
    for (const PublishSites::Site& site : sites)
        ui->ComboBox1->addItem(site.Destination);
    ui->ComboBox1->addItem(QStringLiteral("New site"));
    const PublishSites::Site* site = PublishSites::Find(sites, chosen);
    ui->ComboBox1->setCurrentIndex(site ? int(site - sites.constData()) : int(sites.size()));
}

void TPublishWindow::ShowSite(const PublishSites::Site* site)
{
    const PublishSites::Site none;
    const PublishSites::Site& shown = site ? *site : none;
    ui->Edit1->setText(shown.Destination);
    if (shown.Login == loginName(Publish::LoginKind::KeyFile))
        ui->RadioButton1->setChecked(true);
    else if (shown.Login == loginName(Publish::LoginKind::Password))
        ui->RadioButton3->setChecked(true);
    else
        ui->RadioButton2->setChecked(true);
    ui->Edit2->setText(shown.KeyFile);
    ui->Edit3->clear();
    ui->Edit4->setText(shown.PublicAddress);
    // Each clip has its page: a name typed for one clip is not offered for
    // the next, which would overwrite the first clip's page.
    const QString clipPage = Publish::DefaultPageName(htmlFolder);
    ui->Edit5->setText(!shown.PageName.isEmpty() && shown.PageNameFor == clipPage ? shown.PageName : clipPage);
    ui->CheckBox1->setChecked(shown.RememberPassword && keyringMissing.isEmpty());
    ShowState();
    if (!ui->CheckBox1->isChecked())
        return;
    const QString destination = shown.Destination;
    Keyring::Read(destination, this, [this, destination](const Keyring::Answer& answer) {
        // Only into the site it belongs to, and never over what was typed meanwhile.
        if (ui->Edit1->text().trimmed() != destination || !ui->Edit3->text().isEmpty())
            return;
        if (answer.Found)
            ui->Edit3->setText(answer.Password);
        else if (!answer.Ok && !publishing)
            ui->Label5->setText(QStringLiteral("The keyring did not give the password: %1.").arg(answer.Error));
    });
}

void TPublishWindow::ShowState()
{
    const Publish::Destination destination = destinationOf(ui->Edit1->text());
    const bool sftp = destination.Kind == Protocol::Sftp;
    const bool remote = destination.Kind != Protocol::Local;
    if (destination.PasswordOnly() && !ui->RadioButton3->isChecked()) {
        const QSignalBlocker quiet(ui->RadioButton3);
        ui->RadioButton3->setChecked(true);
    }
    for (QWidget* input : std::initializer_list<QWidget*>{ui->ComboBox1, ui->Edit1, ui->Button1, ui->Edit4, ui->Edit5})
        input->setEnabled(!publishing);
    ui->Button5->setEnabled(!publishing && ui->ComboBox1->currentIndex() < sites.size());
    for (QWidget* login : std::initializer_list<QWidget*>{ui->Label2, ui->RadioButton3})
        login->setEnabled(!publishing && remote);
    for (QWidget* login : std::initializer_list<QWidget*>{ui->RadioButton1, ui->RadioButton2})
        login->setEnabled(!publishing && sftp);
    ui->Edit2->setEnabled(!publishing && sftp && Login() == Publish::LoginKind::KeyFile);
    ui->Button2->setEnabled(ui->Edit2->isEnabled());
    const bool password = remote && Login() == Publish::LoginKind::Password;
    ui->Edit3->setEnabled(!publishing && password);
    ui->CheckBox1->setEnabled(!publishing && password && keyringMissing.isEmpty());
    ui->Label7->setEnabled(ui->CheckBox1->isEnabled() || !keyringMissing.isEmpty());
    ui->Button3->setEnabled(!publishing);
    ui->ProgressBar1->setVisible(publishing);
}

void TPublishWindow::LoginClick()
{
    ShowState();
}

void TPublishWindow::ComboBox1Change()
{
    const int index = ui->ComboBox1->currentIndex();
    ShowSite(index >= 0 && index < sites.size() ? &sites[index] : nullptr);
}

void TPublishWindow::Button1Click()
{
    Dialogs::OpenFileRequest request;
    request.Title = "Choose the folder to publish to";
    request.InitialPath = destinationOf(ui->Edit1->text()).Kind == Protocol::Local
                              ? toLocal(ui->Edit1->text().trimmed())
                              : std::string();
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

void TPublishWindow::Button5Click()
{
    const int index = ui->ComboBox1->currentIndex();
    if (publishing || index < 0 || index >= sites.size())
        return;
    const QString destination = sites[index].Destination;
    if (Dialogs::AskChoice(ForgetSiteBox(destination)) != 0)
        return;
    // Another window or the command may have changed the list meanwhile.
    QSettings stored = PublishSites::Settings();
    sites = PublishSites::Load(stored);
    PublishSites::Forget(sites, destination);
    PublishSites::Save(stored, sites);
    ForgetPassword(destination);
    ShowSites(sites.isEmpty() ? QString() : sites.front().Destination);
    ShowSite(sites.isEmpty() ? nullptr : &sites.front());
}

void TPublishWindow::ForgetPassword(const QString& destination)
{
    if (!keyringMissing.isEmpty())
        return;
    Keyring::Forget(destination, this, [destination](const Keyring::Answer& answer) {
        if (!answer.Ok)
            Dialogs::ShowMessage(toLocal(QStringLiteral("The password for %1 could not be removed from the "
                                                        "keyring: %2.")
                                             .arg(destination, answer.Error)));
    });
}

// Kept when asked to, at the moment it is used; a password no longer to be
// remembered leaves the keyring.
void TPublishWindow::KeepPassword(const PublishSites::Site& site, bool rememberedBefore)
{
    if (!keyringMissing.isEmpty())
        return;
    if (!site.RememberPassword) {
        if (rememberedBefore)
            ForgetPassword(site.Destination);
        return;
    }
    const QString destination = site.Destination;
    Keyring::Write(destination, ui->Edit3->text(), this, [destination](const Keyring::Answer& answer) {
        if (!answer.Ok)
            Dialogs::ShowMessage(toLocal(QStringLiteral("The password for %1 could not be kept in the keyring: "
                                                        "%2. It will be asked again next time.")
                                             .arg(destination, answer.Error)));
    });
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
    const QString clipPage = Publish::DefaultPageName(htmlFolder);
    if (request.PageName.isEmpty())
        request.PageName = clipPage;
    if (request.PageName.isEmpty()) {
        Dialogs::ShowMessage("There is no player page to publish yet. Convert a clip and press \"Generate "
                             "Player\" first, then publish again.");
        return;
    }
    if (request.Destination.isEmpty()) {
        Dialogs::ShowMessage("Please enter where to publish: an SFTP, FTP or WebDAV address, or a folder.");
        ui->Edit1->setFocus();
        return;
    }
    const Publish::Destination destination = destinationOf(request.Destination);
    const bool remote = destination.Kind != Protocol::Local;
    if (destination.Kind == Protocol::Sftp && request.Login == Publish::LoginKind::KeyFile &&
        request.KeyFile.isEmpty()) {
        Dialogs::ShowMessage("Please choose your SSH key file.");
        return;
    }
    const bool password = remote && request.Login == Publish::LoginKind::Password;
    if (password && request.Password.isEmpty()) {
        Dialogs::ShowMessage("Please enter your password.");
        ui->Edit3->setFocus();
        return;
    }

    QSettings stored = PublishSites::Settings();
    sites = PublishSites::Load(stored);
    const PublishSites::Site* known = PublishSites::Find(sites, request.Destination);
    PublishSites::Site site = known ? *known : PublishSites::Site{};
    if (remote && !destination.Encrypted() && !site.PlainWarned) {
        if (Dialogs::AskChoice(PlainPasswordBox(request.Destination)) != 0)
            return;
        site.PlainWarned = true;
    }
    const bool rememberedBefore = site.RememberPassword;
    site.Destination = request.Destination;
    site.Login = loginName(request.Login);
    site.KeyFile = request.KeyFile;
    site.PublicAddress = request.PublicAddress;
    site.PageName = request.PageName;
    site.PageNameFor = clipPage;
    if (password)
        site.RememberPassword = ui->CheckBox1->isEnabled() && ui->CheckBox1->isChecked();
    request.PinnedCertificate = site.PinnedCertificate;
    for (const QString& dropped : PublishSites::Use(sites, site))
        ForgetPassword(dropped);
    PublishSites::Save(stored, sites);
    ShowSites(site.Destination);
    ui->Edit5->setText(request.PageName);
    if (password)
        KeepPassword(site, rememberedBefore);

    if (pendingAnswers)
        pendingAnswers->Drop();
    pendingAnswers = std::make_shared<PendingAnswers>();
    publishedTo = request.Destination;
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
    publisher->Start(
        request,
        [this, pending = pendingAnswers](const QString& host, const QString& fingerprint) {
            return pending->Ask(this, [host, fingerprint] {
                return Dialogs::AskChoice(HostKeyQuestionBox(host, fingerprint)) == 0;
            });
        },
        [this, pending = pendingAnswers](const QString& host, const QString& fingerprint, const QString& reason) {
            return pending->Ask(this, [host, fingerprint, reason] {
                return Dialogs::AskChoice(CertificateQuestionBox(host, fingerprint, reason)) == 0;
            });
        });
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
    if (pendingAnswers)
        pendingAnswers->Drop();
    if (publisher)
        publisher->Cancel();
}

void TPublishWindow::PublishFinished(const Publish::Result& result)
{
    // A certificate the user trusted is the site's from now on, however the
    // publish ended.
    if (!result.TrustedCertificate.isEmpty()) {
        QSettings stored = PublishSites::Settings();
        QList<PublishSites::Site> kept = PublishSites::Load(stored);
        for (PublishSites::Site& site : kept)
            if (site.Destination == publishedTo)
                site.PinnedCertificate = result.TrustedCertificate;
        PublishSites::Save(stored, kept);
        sites = kept;
    }
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
