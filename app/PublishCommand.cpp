#include "app/PublishCommand.h"

#include "platform/EndSignals.h"
#include "platform/ProgramFolder.h"
#include "publish/Publisher.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <cstring>

namespace {

const char Usage[] =
    "Usage: ombrix-zudodira --publish DESTINATION [--public-address URL] [--page NAME] [--key FILE]\n"
    "  DESTINATION: sftp://[user@]host[:port]/folder or a local folder\n"
    "  Logs in with the SSH agent, or with the private key FILE.\n";

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
        } else if (!argument.startsWith(QLatin1String("--")) && request.Destination.isEmpty()) {
            request.Destination = argument;
        } else {
            std::fputs(Usage, stderr);
            return 2;
        }
    }
    if (request.Destination.isEmpty()) {
        std::fputs(Usage, stderr);
        return 2;
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
    // No one to ask: an unknown host key is refused, and the message names
    // its fingerprint so it can be checked and added by hand.
    publisher.Start(request, [](const QString&, const QString&) { return false; });
    QCoreApplication::exec();
    return status;
}
