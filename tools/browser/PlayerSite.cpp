#include "browser/PlayerSite.h"

#include "app/ClipInfo.h"
#include "base/CommandLine.h"
#include "browser/HeadlessChromium.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>

namespace {

// Ruffle's settings for unattended playback: no splash or unmute overlay,
// the canvas renderer (WebGL on a software adapter opens a notice on the
// first mouse-over), and its log at info level for the "Loaded SWF" line.
const char* const HarnessPage = R"(<!doctype html>
<html><body style="margin:0">
<script>
window.RufflePlayer = {config: {autoplay: "on", unmuteOverlay: "hidden", splashScreen: false,
                                preferredRenderer: "canvas", logLevel: "info"}};
</script>
<script src="ruffle/ruffle.js"></script>
<iframe src="TempHtml.html" style="border:0;display:block;width:700px;height:640px"></iframe>
</body></html>
)";

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
    if (!writeFile(QDir(html).filePath("harness.html"), HarnessPage)) {
        *error = "cannot write the harness page";
        return false;
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

bool PlayerSite::WritePage(const std::string& text)
{
    return writeFile(QDir(html).filePath("TempHtml.html"), QByteArray::fromStdString(text));
}

QRect FramedPlayerRect(BrowserTab& tab)
{
    const QJsonArray box = tab.Evaluate(R"((() => {
        const frame = document.querySelector("iframe");
        const page = frame && frame.contentDocument;
        const player = page && page.querySelector("ruffle-object, ruffle-embed");
        if (!player) return [];
        const outer = frame.getBoundingClientRect(), inner = player.getBoundingClientRect();
        return [outer.x + inner.x, outer.y + inner.y, inner.width, inner.height];
    })())")
                               .toArray();
    if (box.size() != 4)
        return {};
    return QRect(qRound(box[0].toDouble()), qRound(box[1].toDouble()), qRound(box[2].toDouble()),
                 qRound(box[3].toDouble()));
}

QString FramedPanicText(BrowserTab& tab)
{
    return tab
        .Evaluate(R"((() => {
        const frame = document.querySelector("iframe");
        const page = frame && frame.contentDocument;
        const player = page && page.querySelector("ruffle-object, ruffle-embed");
        const panic = player && player.shadowRoot && player.shadowRoot.querySelector("#panic");
        return panic ? panic.textContent : "";
    })())")
        .toString();
}
