// How fast publishing sends a site compared with curl: the same html folder
// (a player movie, a 20 MB clip, the site page and Ruffle) published to
// Debian's sshd on loopback and sent there file by file with `curl -T` in one
// curl run, alternately, several rounds, each into a fresh folder so that
// every file goes. Target: publishing at no less than 0.8 of curl's speed.
#include "player/PlayerPage.h"
#include "publish/Publisher.h"
#include "support/SiteServers.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool copyFolder(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    for (const QString& name : QDir(from).entryList(QDir::Files))
        if (!QFile::copy(from + "/" + name, to + "/" + name))
            return false;
    return true;
}

// The html folder as "Generate Player" leaves it, with a clip of the given size.
bool makeHtmlFolder(const QString& html, qint64 clipBytes)
{
    if (!QDir().mkpath(html + "/flvs") || !copyFolder(OZ_PROGRAM_FOLDER "/html/ruffle", html + "/ruffle") ||
        !QFile::copy(OZ_PROGRAM_FOLDER "/html/flv_player_320x240.swf", html + "/flv_player_320x240.swf"))
        return false;
    // Random bytes: nothing on the way can make them smaller.
    QByteArray clip(clipBytes, Qt::Uninitialized);
    QRandomGenerator generator(19);
    generator.fillRange(reinterpret_cast<quint32*>(clip.data()), clip.size() / 4);
    QFile clipFile(html + "/flvs/bench.flv");
    if (!clipFile.open(QIODevice::WriteOnly) || clipFile.write(clip) != clip.size())
        return false;
    const PlayerPageSettings settings{PlayerSizes[2], "bench.flv", "60", "FF8000", "2", "1", "0", "", ""};
    std::string page = PlayerPageText(settings);
    page.insert(page.find('\n') + 1, "<script src=\"ruffle/ruffle.js\"></script>\r\n");
    QFile pageFile(html + "/SitePage.html");
    return pageFile.open(QIODevice::WriteOnly) &&
           pageFile.write(page.data(), qint64(page.size())) == qint64(page.size());
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;

    QTemporaryDir folder;
    const QString html = folder.filePath("html");
    if (!makeHtmlFolder(html, 20 << 20)) {
        std::fprintf(stderr, "cannot make the html folder (is the program built, Ruffle included?)\n");
        return 1;
    }
    TestSupport::SiteServers servers(folder.filePath("servers"));
    QString error;
    if (!servers.Start(&error) || !servers.TrustHostKey()) {
        std::fprintf(stderr, "servers: %s\n", qPrintable(error));
        return 1;
    }
    qputenv("HOME", servers.Home().toLocal8Bit());

    // What curl sends: the same files under the names publishing gives them.
    QStringList curlArguments{"-sS",      "--ftp-create-dirs",       "--key", servers.KeyFile(),
                              "--pubkey", servers.KeyFile() + ".pub"};
    QList<QPair<QString, QString>> files;  // source, name on the site
    qint64 bytes = 0;
    QDirIterator it(html, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        QString name = QDir(html).relativeFilePath(source);
        if (name == "SitePage.html")
            name = "bench.html";
        files.append({source, name});
        bytes += QFileInfo(source).size();
    }
    const double megabytes = double(bytes) / (1 << 20);
    std::printf("%lld files, %.1f MB, to sshd on loopback\n", static_cast<long long>(files.size()),
                megabytes);

    auto publish = [&](const QString& destination) {
        Publish::Publisher publisher;
        Publish::Result result;
        QEventLoop loop;
        QObject::connect(&publisher, &Publish::Publisher::Finished, &loop,
                         [&](const Publish::Result& finished) {
                             result = finished;
                             loop.quit();
                         });
        Publish::Request request;
        request.HtmlFolder = html;
        request.Destination = servers.Destination(destination);
        request.Login = Publish::LoginKind::KeyFile;
        request.KeyFile = servers.KeyFile();
        request.PageName = "bench.html";
        QElapsedTimer clock;
        clock.start();
        publisher.Start(request, [](const QString&, const QString&) { return false; });
        loop.exec();
        const double seconds = clock.nsecsElapsed() / 1e9;
        if (!result.Ok) {
            std::fprintf(stderr, "publishing failed: %s\n", qPrintable(result.Message));
            return -1.0;
        }
        return seconds;
    };
    auto curl = [&](const QString& destination) {
        QStringList arguments = curlArguments;
        for (const auto& [source, name] : files)
            arguments << "-T" << source << servers.Destination(destination + "/" + name);
        QProcess process;
        process.setProcessEnvironment(servers.Environment());
        QElapsedTimer clock;
        clock.start();
        process.start("curl", arguments);
        if (!process.waitForFinished(600000) || process.exitCode() != 0) {
            std::fprintf(stderr, "curl failed: %s\n", process.readAllStandardError().constData());
            return -1.0;
        }
        return clock.nsecsElapsed() / 1e9;
    };

    std::vector<double> publishSpeeds, curlSpeeds;
    for (int round = 0; round < rounds; ++round) {
        double published = 0, curled = 0;
        // Alternating who goes first, so that neither always meets a warm or cold server.
        if (round % 2 == 0) {
            published = publish(QString("publish-%1").arg(round));
            curled = curl(QString("curl-%1").arg(round));
        } else {
            curled = curl(QString("curl-%1").arg(round));
            published = publish(QString("publish-%1").arg(round));
        }
        if (published <= 0 || curled <= 0)
            return 1;
        publishSpeeds.push_back(megabytes / published);
        curlSpeeds.push_back(megabytes / curled);
        std::printf("round %d: publish %.1f MB/s (%.2f s), curl -T %.1f MB/s (%.2f s)\n", round + 1,
                    publishSpeeds.back(), published, curlSpeeds.back(), curled);
    }
    const double ratio = median(publishSpeeds) / median(curlSpeeds);
    std::printf("median: publish %.1f MB/s, curl -T %.1f MB/s, ratio %.2f (target >= 0.80): %s\n",
                median(publishSpeeds), median(curlSpeeds), ratio, ratio >= 0.8 ? "met" : "NOT met");
    return 0;
}
