#include "app/PublishCommand.h"

#include "app/PublishSites.h"
#include "base/Terminal.h"
#include "platform/EndSignals.h"
#include "platform/Keyring.h"
#include "platform/ProgramFolder.h"
#include "publish/Plan.h"
#include "publish/Publisher.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

const char Usage[] =
    "Usage: ombrix-zudodira --publish DESTINATION [--public-address URL] [--page NAME] [--key FILE]\n"
    "                       [--password-stdin]\n"
    "  DESTINATION: sftp://, ftps://, ftp://, https:// or http:// (WebDAV), as\n"
    "  SCHEME://[user@]host[:port]/folder, or a local folder\n"
    "  SFTP logs in with the SSH agent, or with the private key FILE. A password\n"
    "  (FTP, WebDAV, or SFTP with --password-stdin) comes from the desktop's keyring,\n"
    "  as the publish window remembered it, or as one line on standard input.\n"
    "  Certificates are trusted from the system's store or as trusted in the window.\n";

void Say(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

QString Megabytes(qint64 bytes) { return QString::number(double(bytes) / 1e6, 'f', 1); }

}  // namespace

bool IsPublishCommand(int argc, char* argv[])
{
    // "--publish" alone opens the publish window.
    return argc >= 3 && std::strcmp(argv[1], "--publish") == 0;
}

int RunPublishCommand(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ombrix-zudodira"));
    const QStringList arguments = QCoreApplication::arguments();
    Publish::Request request;
    request.HtmlFolder = Platform::HtmlFolder();
    bool passwordOnInput = false;
    bool keyGiven = false;
    for (qsizetype i = 2; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == QLatin1String("--public-address") && hasValue) {
            request.PublicAddress = arguments[++i];
        } else if (argument == QLatin1String("--page") && hasValue) {
            request.PageName = arguments[++i];
        } else if (argument == QLatin1String("--key") && hasValue) {
            request.Login = Publish::LoginKind::KeyFile;
            request.KeyFile = QDir::current().absoluteFilePath(arguments[++i]);
            keyGiven = true;
        } else if (argument == QLatin1String("--password-stdin")) {
            passwordOnInput = true;
        } else if (!argument.startsWith(QLatin1String("--")) && request.Destination.isEmpty()) {
            request.Destination = argument;
        } else {
            std::fputs(Usage, stderr);
            return 2;
        }
    }
    if (request.Destination.isEmpty() || (passwordOnInput && keyGiven)) {
        std::fputs(Usage, stderr);
        return 2;
    }
    request.Destination = request.Destination.trimmed();
    QString error;
    const auto destination = Publish::ParseDestination(request.Destination, &error);
    if (!destination) {
        Say(stderr, error);
        return 2;
    }

    // The site as the publish window keeps it: its pinned certificate, its
    // login, whether it was warned of a plain password.
    QSettings stored = PublishSites::Settings();
    QList<PublishSites::Site> sites = PublishSites::Load(stored);
    const PublishSites::Site* known = PublishSites::Find(sites, request.Destination);
    PublishSites::Site site = known ? *known : PublishSites::Site{};
    site.Destination = request.Destination;
    request.PinnedCertificate = site.PinnedCertificate;
    const bool password = destination->Kind != Publish::Destination::Protocol::Local &&
                          (destination->PasswordOnly() || passwordOnInput ||
                           (!keyGiven && site.Login == QLatin1String("password")));
    if (passwordOnInput) {
        // One line, as `echo "$PASSWORD" |` or a password manager's pipe
        // gives it; typed at a terminal, it is not shown.
        std::string line;
        bool read = false;
        {
            const TEchoOff quiet(STDIN_FILENO);
            if (quiet.Terminal())
                std::fputs("Password: ", stderr);
            read = bool(std::getline(std::cin, line));
        }
        if (!read || line.empty() || line == "\r") {
            Say(stderr, QStringLiteral("No password came on standard input."));
            return 2;
        }
        if (line.back() == '\r')
            line.pop_back();
        request.Password = QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
    }
    if (password) {
        request.Login = Publish::LoginKind::Password;
        if (!passwordOnInput) {
            const Keyring::Answer kept = Keyring::ReadNow(request.Destination);
            if (!kept.Found) {
                const QString why = kept.Ok ? QStringLiteral("No password is remembered in the keyring for %1.")
                                                  .arg(request.Destination)
                                            : QStringLiteral("The keyring gave no password for %1: %2.")
                                                  .arg(request.Destination, kept.Error);
                Say(stderr, why + QStringLiteral(" Remember it in the publish window, or give it as one line on "
                                                 "standard input with --password-stdin."));
                return 2;
            }
            request.Password = kept.Password;
        }
    }
    if (password && !destination->Encrypted() && !site.PlainWarned) {
        Say(stderr, QStringLiteral("Warning: %1 is reached without encryption: the password and the files cross "
                                   "the network readable by anyone on the way. (Said once for this site.)")
                        .arg(request.Destination));
        site.PlainWarned = true;
        // A site the window does not know joins the list for this, unless
        // the list is full.
        if (known)
            sites[known - sites.constData()] = site;
        else if (sites.size() < PublishSites::MostSites)
            sites.append(site);
        PublishSites::Save(stored, sites);
    }

    Publish::Publisher publisher;
    int status = 1;
    QString lastFile;
    int lastTenth = -1;
    QObject::connect(&publisher, &Publish::Publisher::ProgressChanged, [&](const Publish::Progress& progress) {
        const int tenth = progress.BytesTotal > 0 ? int(progress.BytesDone * 10 / progress.BytesTotal) : 0;
        if (progress.File == lastFile && tenth == lastTenth)
            return;
        lastFile = progress.File;
        lastTenth = tenth;
        if (progress.FilesTotal == 0)
            Say(stderr, progress.File);
        else
            Say(stderr, QStringLiteral("%1 of %2 files, %3 of %4 MB: %5")
                            .arg(progress.FilesDone).arg(progress.FilesTotal)
                            .arg(Megabytes(progress.BytesDone), Megabytes(progress.BytesTotal), progress.File));
    });
    QObject::connect(&publisher, &Publish::Publisher::Finished, [&](const Publish::Result& result) {
        if (result.Ok) {
            Say(stderr, result.Message);
            Say(stdout, result.PageAddress);
            status = 0;
        } else {
            Say(stderr, result.Message);
            status = result.Cancelled ? 3 : 1;
        }
        QCoreApplication::quit();
    });
    // Ctrl+C, a closed terminal or a logout cancel the publish, which then
    // tidies up; the site stays as it was.
    const TEndSignals endSignals([&publisher](int) { publisher.Cancel(); });
    // No one to ask: an unknown host key or certificate is refused, and the
    // message names its fingerprint so it can be checked (and the
    // certificate trusted in the window, the key added by hand).
    publisher.Start(request, [](const QString&, const QString&) { return false; });
    QCoreApplication::exec();
    return status;
}
