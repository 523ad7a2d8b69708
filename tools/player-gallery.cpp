// Plays a clip in two of the player movies, in headless Chromium with
// self-hosted Ruffle, and saves a picture of each player while it plays into
// the folder given as the argument: player-320x240.png, player-160x120.png.
// Used to keep the pictures in docs/ in step with the movies.
#include "browser/HeadlessChromium.h"
#include "browser/PlayerSite.h"
#include "player/PlayerPage.h"
#include "swfgen/PlayerMovie.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

struct Picture {
    int size;  // row of the size table
    const char* color;
    QRgb rgb;
};

// Saves the player once its progress bar is a third of the way along, after
// the visitor's click on Ruffle's unmute overlay.
bool savePicture(PlayerSite& site, HeadlessChromium& browser, BrowserTab& tab, const Picture& picture,
                 const QDir& folder)
{
    const PlayerPageSettings settings{
        PlayerSizes[picture.size], "clip.flv", "9", picture.color, "3", "1", "1", "Ombrix Zidad",
        "http://127.0.0.1/"};
    if (!site.WritePage(settings))
        return false;
    tab.Open(site.PageUrl());
    if (!browser.WaitUntil([&] { return FramedRuffleState(tab).Loaded; }, 30000))
        return false;
    const PlayerSize& size = PlayerSizes[picture.size];
    const swf::PlayerLayout layout = swf::LayoutPlayer(size);
    QRect player = FramedPlayerRect(tab);
    if (FramedRuffleState(tab).UnmuteOverlay) {
        tab.Click(player.topLeft() + QPoint(layout.video.CenterX(), layout.video.CenterY()));
        if (!browser.WaitUntil([&] { return !FramedRuffleState(tab).UnmuteOverlay; }, 10000))
            return false;
    }
    QImage shot;
    const bool playing = browser.WaitUntil(
        [&] {
            player = FramedPlayerRect(tab);
            if (player.isEmpty())
                return false;
            shot = tab.Screenshot();
            const QPoint third = player.topLeft() + QPoint(layout.progress.x + layout.progress.width / 3,
                                                           layout.progress.CenterY());
            return (shot.pixel(third) & 0xFFFFFF) == picture.rgb;
        },
        30000);
    const QString name = QString::fromStdString(PlayerMovieName(size)).replace("flv_player_", "player-");
    return playing && shot.copy(player).save(folder.filePath(QString(name).replace(".swf", ".png")));
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: player-gallery FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir work;
    PlayerSite site(work.filePath("site"), OZ_PROGRAM_FOLDER, OZ_RUFFLE_FOLDER);
    QString error;
    // A moving test picture with a tone, converted as the program does.
    const QString video = work.filePath("test picture.avi");
    const int made = QProcess::execute("ffmpeg", {"-hide_banner",
                                                  "-loglevel",
                                                  "error",
                                                  "-nostdin",
                                                  "-y",
                                                  "-f",
                                                  "lavfi",
                                                  "-i",
                                                  "testsrc2=s=320x240:r=25",
                                                  "-f",
                                                  "lavfi",
                                                  "-i",
                                                  "sine=frequency=440:sample_rate=44100",
                                                  "-t",
                                                  "9",
                                                  "-c:v",
                                                  "mpeg4",
                                                  "-q:v",
                                                  "3",
                                                  "-c:a",
                                                  "mp2",
                                                  "file:" + video});
    if (made != 0)
        error = "ffmpeg could not make the test picture";
    if (!error.isEmpty() || !site.Start(&error) || !site.ConvertClip(video, "clip.flv", &error)) {
        std::fprintf(stderr, "player-gallery: %s\n", qPrintable(error));
        return 1;
    }
    try {
        HeadlessChromium browser(work.filePath("browser"));
        BrowserTab tab(browser, PlayerSite::Viewport());
        for (const Picture& picture : {Picture{2, "FF8000", 0xFF8000}, Picture{0, "008000", 0x008000}}) {
            if (!savePicture(site, browser, tab, picture, folder)) {
                std::fprintf(stderr, "player-gallery: no picture of player %d\n%s\n", picture.size,
                             qPrintable(tab.ConsoleLines().join('\n')));
                return 1;
            }
        }
    } catch (const BrowserError& failure) {
        std::fprintf(stderr, "player-gallery: %s\n", failure.what());
        return 1;
    }
    return 0;
}
