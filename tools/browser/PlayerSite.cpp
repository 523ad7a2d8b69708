#include "browser/PlayerSite.h"

#include "app/ClipInfo.h"
#include "base/CommandLine.h"
#include "browser/HeadlessChromium.h"
#include "player/PlayerPage.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() &&
           file.flush();
}

}  // namespace

PlayerSite::PlayerSite(const QString& folder, const QString& programFolder, const QString& ruffleFolder)
    : html(QDir(folder).filePath("html")), program(programFolder), server(QDir(folder).filePath("html"))
{
    server.Mount("/ruffle/", ruffleFolder);
}

bool PlayerSite::Start(QString* error)
{
    QDir().mkpath(QDir(html).filePath("flvs"));
    const QDir movies(QDir(program).filePath("html"));
    const QStringList names = movies.entryList({"flv_player_*.swf"}, QDir::Files);
    if (names.size() != 4) {
        *error = "expected four player movies in " + movies.path();
        return false;
    }
    for (const QString& name : names) {
        if (!QFile::copy(movies.filePath(name), QDir(html).filePath(name))) {
            *error = "cannot copy " + name;
            return false;
        }
    }
    if (!server.Start()) {
        *error = "cannot listen on the loopback interface";
        return false;
    }
    return true;
}

bool PlayerSite::ConvertClip(const QString& video, const QString& name, QString* error)
{
    const std::string commandLine = ConverterCommandLine(
        video.toLocal8Bit().toStdString(), QDir(html).filePath("flvs/" + name).toLocal8Bit().toStdString());
    QStringList arguments;
    for (const std::string& argument : Platform::SplitCommandLine(commandLine))
        arguments << QString::fromLocal8Bit(argument.c_str());
    arguments.removeFirst();  // the program, conv
    QProcess conv;
    conv.setProcessChannelMode(QProcess::MergedChannels);
    conv.setStandardInputFile(QProcess::nullDevice());
    conv.start(QDir(program).filePath("conv"), arguments);
    if (!conv.waitForFinished(120000) || conv.exitStatus() != QProcess::NormalExit || conv.exitCode() != 0) {
        conv.kill();
        *error = "conv failed: " + QString::fromLocal8Bit(conv.readAll());
        return false;
    }
    return true;
}

bool PlayerSite::WritePage(const PlayerPageSettings& settings)
{
    return writeFile(QDir(html).filePath("SitePage.html"), QByteArray::fromStdString(SitePageText(settings)));
}

namespace {

// A script that finds the player, in the frame when there is one, as
// `player` and `offset` (the frame's place in the viewport), then runs body.
QString aboutThePlayer(const char* body)
{
    return QString(R"((() => {
        const frame = document.querySelector("iframe");
        const page = frame ? frame.contentDocument : document;
        const player = page && page.querySelector("ruffle-object, ruffle-embed");
        const offset = frame ? frame.getBoundingClientRect() : {x: 0, y: 0};
        const shown = (id) => {
            const part = player && player.shadowRoot && player.shadowRoot.getElementById(id);
            return !!part && getComputedStyle(part).display !== "none";
        };
        %1
    })())")
        .arg(body);
}

}  // namespace

QRect FramedPlayerRect(BrowserTab& tab)
{
    const QJsonArray box = tab.Evaluate(aboutThePlayer(R"(
        if (!player) return [];
        const inner = player.getBoundingClientRect();
        return [offset.x + inner.x, offset.y + inner.y, inner.width, inner.height];)"))
                               .toArray();
    if (box.size() != 4)
        return {};
    return QRect(qRound(box[0].toDouble()), qRound(box[1].toDouble()), qRound(box[2].toDouble()),
                 qRound(box[3].toDouble()));
}

QString FramedPanicText(BrowserTab& tab)
{
    return tab
        .Evaluate(aboutThePlayer(R"(
        const panic = player && player.shadowRoot && player.shadowRoot.querySelector("#panic");
        return panic ? panic.textContent : "";)"))
        .toString();
}

RuffleState FramedRuffleState(BrowserTab& tab)
{
    // Ruffle's ready states: 2 is "Loaded".
    const QJsonArray state = tab.Evaluate(aboutThePlayer(R"(
        if (!player) return [];
        return [player.readyState === 2, shown("unmute-overlay"), shown("splash-screen"),
                shown("play-button")];)"))
                                 .toArray();
    if (state.size() != 4)
        return {};
    return {state[0].toBool(), state[1].toBool(), state[2].toBool(), state[3].toBool()};
}

QRgb BehindUnmuteOverlay(QRgb color)
{
    return qRgb(qRound(qRed(color) * 0.3), qRound(qGreen(color) * 0.3), qRound(qBlue(color) * 0.3));
}
