// The player movies in a browser of today: the site page the program writes,
// served on loopback beside the movies and a clip converted by conv, opened in
// Debian's headless Chromium, at its default autoplay policy, with
// self-hosted Ruffle. Checks what a visitor sees: the player at the page's
// size, buttons in the chosen colour, the clip's frames with no click when it
// starts by itself (muted behind Ruffle's unmute overlay where the browser
// wants a click for sound) and after play otherwise, the caption, and the
// link's new window; and the same through the program's own preview of its
// folder.
#include "browser/HeadlessChromium.h"
#include "browser/PlayerSite.h"
#include "player/PlayerPage.h"
#include "support/Media.h"
#include "support/TestSupport.h"
#include "swfgen/PlayerMovie.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QImage>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

using namespace TestSupport;

namespace {

constexpr int ClipSeconds = 6;

PlayerPageSettings pageSettings(int size, const std::string& color, const std::string& autoStart,
                                const std::string& isLink, const std::string& webPage)
{
    return {PlayerSizes[size], "clip.flv", std::to_string(ClipSeconds), color, "2", autoStart, isLink,
            "Ombrix Zidad",    webPage};
}

}  // namespace

class PlayerBrowserTest : public QObject {
    Q_OBJECT

    QTemporaryDir work;
    std::unique_ptr<PlayerSite> site;
    std::unique_ptr<HeadlessChromium> browser;
    std::unique_ptr<BrowserTab> tab;
    QStringList rufflesWords;  // Ruffle's errors over all cases
    bool veiled = false;       // the player is behind Ruffle's unmute overlay

    // A colour of the player as the visitor sees it now.
    QRgb seen(QRgb color) const { return veiled ? BehindUnmuteOverlay(color) : color; }

    // The player of the written page, loaded, checked for Ruffle's error
    // panel, and with its frame script run: its buttons show the colour.
    // Returns the player's top-left corner in the viewport.
    QPoint openPage(const PlayerPageSettings& settings, int sizeIndex, QRgb buttonColor)
    {
        if (!site->WritePage(settings))
            throw BrowserError("cannot write the page");
        newTab();
        tab->Open(site->PageUrl());
        return checkPlayer(sizeIndex, buttonColor, settings.AutoStart == "1");
    }

    // Each page in a tab of its own, as a new visitor's: no click on an
    // earlier page counts as the one that lets sound play.
    void newTab()
    {
        if (tab) {
            keepRuffleWords();
            tab->Open("about:blank");
        }
        tab = std::make_unique<BrowserTab>(*browser, PlayerSite::Viewport());
    }

    // The player loaded at its size, without Ruffle's error panel, splash or
    // play button, its buttons in the colour; its top-left corner in the
    // viewport. Chromium wants a click before sound: a player that starts by
    // itself plays muted behind Ruffle's unmute overlay, one that waits shows
    // its own play button.
    QPoint checkPlayer(int sizeIndex, QRgb buttonColor, bool autoStart)
    {
        RuffleState ruffle;
        if (!browser->WaitUntil([&] { return (ruffle = FramedRuffleState(*tab)).Loaded; }, 30000))
            throw BrowserError("Ruffle did not load the movie:\n" + consoleText());
        if (ruffle.Splash || ruffle.PlayButton || ruffle.UnmuteOverlay != autoStart)
            throw BrowserError(QString("Ruffle shows its splash %1, play button %2, unmute overlay %3")
                                   .arg(ruffle.Splash)
                                   .arg(ruffle.PlayButton)
                                   .arg(ruffle.UnmuteOverlay)
                                   .toStdString());
        veiled = ruffle.UnmuteOverlay;
        const PlayerSize& size = PlayerSizes[sizeIndex];
        QRect player;
        browser->WaitUntil(
            [&] {
                player = FramedPlayerRect(*tab);
                return player.size() == QSize(size.stageWidth, size.stageHeight);
            },
            30000);
        if (player.size() != QSize(size.stageWidth, size.stageHeight))
            throw BrowserError(
                QString("player drawn at %1x%2").arg(player.width()).arg(player.height()).toStdString());
        const QString panic = FramedPanicText(*tab);
        if (!panic.isEmpty())
            throw BrowserError("Ruffle's error panel: " + panic.toStdString());

        const swf::PlayerLayout layout = swf::LayoutPlayer(size);
        const QPoint playFace =
            player.topLeft() + QPoint(layout.playButton.x + 4, layout.playButton.CenterY());
        const QPoint stopFace =
            player.topLeft() + QPoint(layout.stopButton.x + 4, layout.stopButton.CenterY());
        QImage shot;
        const bool painted = waitForPicture(
            [&](const QImage& image) {
                return near(image.pixel(playFace), seen(buttonColor), 8) &&
                       near(image.pixel(stopFace), seen(buttonColor), 8);
            },
            &shot, 30000);
        if (!painted)
            throw BrowserError(
                ("buttons are " + hex(shot.pixel(playFace)) + " and " + hex(shot.pixel(stopFace)))
                    .toStdString());
        return player.topLeft();
    }

    // The visitor's click on Ruffle's unmute overlay, at a point of the
    // player: the overlay goes.
    void unveil(const QPoint& at)
    {
        tab->Click(at);
        if (!browser->WaitUntil([&] { return !FramedRuffleState(*tab).UnmuteOverlay; }, 10000))
            throw BrowserError("the unmute overlay stays after a click");
        veiled = false;
    }

    // Waits until a screenshot satisfies the check; the last one is kept.
    bool waitForPicture(const std::function<bool(const QImage&)>& check, QImage* last, int timeoutMs)
    {
        return browser->WaitUntil(
            [&] {
                *last = tab->Screenshot();
                return check(*last);
            },
            timeoutMs);
    }

    std::string consoleText() const { return tab->ConsoleLines().join('\n').toStdString(); }

    void keepRuffleWords()
    {
        for (const QString& line : tab->ConsoleLines()) {
            if ((line.contains("ERROR") || line.startsWith("exception")) &&
                !rufflesWords.contains(line))
                rufflesWords << line;
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(OZ_RUFFLE_FOLDER "/ruffle.js"),
                 "Ruffle is missing from the program folder's html/ruffle/");
        QVERIFY2(QFileInfo::exists("/usr/bin/chromium"), "Debian's chromium is not installed");
        site = std::make_unique<PlayerSite>(work.filePath("site"), OZ_PROGRAM_FOLDER, OZ_RUFFLE_FOLDER);
        QString error;
        QVERIFY2(site->Start(&error), qPrintable(error));
        const QString video = work.filePath("camera clip.avi");
        error = TestSupport::MakeClip(
            video,
            {"-f", "lavfi", "-i", ClipPicture, "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000"},
            {"-t", QString::number(ClipSeconds), "-c:v", "mpeg4", "-q:v", "3", "-c:a", "mp2", "-ar", "48000",
             "-ac", "2", "-b:a", "192k"});
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY2(site->ConvertClip(video, "clip.flv", &error), qPrintable(error));
        try {
            browser = std::make_unique<HeadlessChromium>(work.filePath("browser"));
            browser->Call("Target.setDiscoverTargets", {{"discover", true}});
            newTab();
        } catch (const BrowserError& failure) {
            QFAIL(failure.what());
        }
    }

    void cleanupTestCase()
    {
        for (const QString& line : rufflesWords)
            qInfo("Ruffle said: %s", qPrintable(line.left(200)));
        tab.reset();
        browser.reset();
    }

    void cleanup() { keepRuffleWords(); }

    void player_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("color");
        QTest::addColumn<uint>("expectedColor");
        QTest::addColumn<QString>("autoStart");
        QTest::addColumn<QString>("isLink");

        QTest::addColumn<QString>("clipLength");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("clip");

        QTest::newRow("160x120, red, starts by itself") << 0 << "FF0000" << 0xFF0000u << "1"
                                                        << "1"
                                                        << "6"
                                                        << "Ombrix Zidad"
                                                        << "clip.flv";
        QTest::newRow("320x240, typed light grey, waits for play, caption with & and quotes")
            << 2 << "c0c0c0" << 0xC0C0C0u << ""
            << "1"
            << "6"
            << "Tom & Jerry's \"best\" 100%+"
            << "clip.flv";
        // Without a usable length the clip's own duration drives the bar.
        QTest::newRow("640x480, empty colour gives black, no link, length not a number")
            << 3 << "" << 0x000000u << "1"
            << "0"
            << "six"
            << "Ombrix Zidad"
            << "clip.flv";
        // Clip names that mean something in an address.
        for (const char* name :
             {"Holiday_#1", "what?", "50%41", "Tom_&_Jerry", "1+1", "Rock'n'roll", "caf\u00e9", "a;b"})
            QTest::addRow("clip named %s", name) << 1 << "008000" << 0x008000u << "1"
                                                 << "1"
                                                 << "6"
                                                 << "Ombrix Zidad" << QString::fromUtf8(name) + ".flv";
    }

    void player()
    {
        QFETCH(int, size);
        QFETCH(QString, color);
        QFETCH(uint, expectedColor);
        QFETCH(QString, autoStart);
        QFETCH(QString, isLink);
        QFETCH(QString, clipLength);
        QFETCH(QString, caption);
        QFETCH(QString, clip);
        const QString clipPath = site->HtmlFolder() + "/flvs/" + clip;
        QVERIFY(QFileInfo::exists(clipPath) || QFile::copy(site->HtmlFolder() + "/flvs/clip.flv", clipPath));
        const swf::PlayerLayout layout = swf::LayoutPlayer(PlayerSizes[size]);
        PlayerPageSettings settings =
            pageSettings(size, color.toStdString(), autoStart.toStdString(), isLink.toStdString(),
                         site->Url("/linked.html").toStdString());
        settings.ClipLength = clipLength.toStdString();
        settings.LinkCaption = caption.toStdString();
        settings.ClipFile = clip.toStdString();
        try {
            const QPoint origin = openPage(settings, size, expectedColor);
            auto at = [&](int x, int y) { return origin + QPoint(x, y); };
            // Left of the unmute overlay's icon, which takes the middle half.
            const int videoX = layout.video.x + layout.video.width / 8;
            const QPoint videoTop = at(videoX, layout.video.y + layout.video.height / 4);
            const QPoint videoBottom = at(videoX, layout.video.y + 3 * layout.video.height / 4);
            const QPoint progressStart = at(layout.progress.x + 2, layout.progress.CenterY());

            QImage shot = tab->Screenshot();
            if (autoStart != "1") {
                QVERIFY2(!near(shot.pixel(videoTop), ClipTop), "the clip plays before the play button");
                tab->Click(at(layout.playButton.CenterX(), layout.playButton.CenterY()));
            }
            const bool playing = waitForPicture(
                [&](const QImage& image) {
                    return near(image.pixel(videoTop), seen(ClipTop)) &&
                           near(image.pixel(videoBottom), seen(ClipBottom));
                },
                &shot, 20000);
            QVERIFY2(playing,
                     qPrintable("video area shows " + hex(shot.pixel(videoTop)) + " over " +
                                hex(shot.pixel(videoBottom)) + "\n" + QString::fromStdString(consoleText())));
            if (autoStart == "1")
                unveil(at(layout.video.CenterX(), layout.video.CenterY()));

            shot = tab->Screenshot();
            int captionPixels = 0;
            const swf::Box& line = layout.caption;
            for (int y = line.y; y < line.y + line.height; ++y) {
                for (int x = line.x; x < line.x + line.width; ++x) {
                    const QRgb pixel = shot.pixel(at(x, y));
                    captionPixels += qBlue(pixel) > qRed(pixel) + 60;
                }
            }
            if (isLink == "1")
                QVERIFY2(captionPixels > 30, qPrintable(QString("caption pixels: %1").arg(captionPixels)));
            else
                QCOMPARE(captionPixels, 0);

            // The bar fills from the left as the clip plays against clipLength.
            const bool progressing = waitForPicture(
                [&](const QImage& image) { return near(image.pixel(progressStart), expectedColor, 8); },
                &shot, 10000);
            QVERIFY2(progressing, qPrintable("progress bar start is " + hex(shot.pixel(progressStart))));

            if (autoStart != "1") {
                // Stop rewinds, the bar empties; play goes on from the start.
                auto barIs = [&](QRgb color) {
                    return waitForPicture(
                        [&](const QImage& image) { return near(image.pixel(progressStart), color, 8); },
                        &shot, 10000);
                };
                tab->Click(at(layout.stopButton.CenterX(), layout.stopButton.CenterY()));
                QVERIFY2(barIs(swf::PlayerColors::Track),
                         qPrintable("after stop " + hex(shot.pixel(progressStart))));
                tab->Click(at(layout.playButton.CenterX(), layout.playButton.CenterY()));
                QVERIFY2(barIs(expectedColor), qPrintable("after play " + hex(shot.pixel(progressStart))));
            }
        } catch (const BrowserError& failure) {
            QFAIL(failure.what());
        }
    }

    // The program's own preview of its folder (a copy of the build's), with
    // the outside network out of the browser's reach: the index page it
    // prints loads the folder's Ruffle and plays the written page.
    void previewPlaysTheWrittenPage()
    {
        const QDir build(OZ_PROGRAM_FOLDER), program(work.filePath("program"));
        QVERIFY(program.mkpath("html/flvs") && program.mkpath("html/ruffle"));
        QStringList files{"ombrix-zudodira"};
        for (const QString& name : QDir(build.filePath("html")).entryList({"*.swf"}, QDir::Files))
            files << "html/" + name;
        for (const QString& name : QDir(build.filePath("html/ruffle")).entryList(QDir::Files))
            files << "html/ruffle/" + name;
        for (const QString& file : files)
            QVERIFY2(QFile::copy(build.filePath(file), program.filePath(file)), qPrintable(file));
        QVERIFY(QFile::copy(site->HtmlFolder() + "/flvs/clip.flv", program.filePath("html/flvs/clip.flv")));
        const PlayerPageSettings settings = pageSettings(2, "FF8000", "1", "1", "http://a.example/");
        for (const auto& [name, text] : {std::pair{"html/TempHtml.html", PlayerPageText(settings)},
                                         std::pair{"html/SitePage.html", SitePageText(settings)}}) {
            QFile page(program.filePath(name));
            QVERIFY(page.open(QIODevice::WriteOnly));
            page.write(QByteArray::fromStdString(text));
        }

        // The page it hands the desktop's opener (which has nothing to open
        // with here) is what the user's browser would open.
        QVERIFY(program.mkpath("runtime"));
        QVERIFY(QFile::setPermissions(program.filePath("runtime"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", program.filePath("runtime"));
        QStringList handed;
        auto waitForHandedPage = [&] {
            return browser->WaitUntil(
                [&] { return !(handed = QDir(program.filePath("runtime")).entryList({"preview-*.html"})).isEmpty(); },
                30000);
        };
        {
            // Ended by the desktop before the browser came, it takes the page along.
            QProcess ended;
            ended.setProcessEnvironment(environment);
            ended.start(program.filePath("ombrix-zudodira"), {"--preview"});
            QVERIFY(waitForHandedPage());
            ended.terminate();
            QVERIFY(ended.waitForFinished(30000));
            QCOMPARE(ended.exitStatus(), QProcess::CrashExit);
            QCOMPARE(QDir(program.filePath("runtime")).entryList({"preview-*.html"}), QStringList());
        }
        QProcess preview;
        preview.setProcessEnvironment(environment);
        preview.start(program.filePath("ombrix-zudodira"), {"--preview"});
        QVERIFY(browser->WaitUntil([&] { return preview.canReadLine(); }, 30000));
        const QString address = QString::fromUtf8(preview.readLine()).trimmed();
        QVERIFY2(address.startsWith("http://127.0.0.1:"), qPrintable(address));
        QVERIFY(waitForHandedPage());
        const QString opened = QUrl::fromLocalFile(program.filePath("runtime/" + handed[0])).toString();
        const swf::PlayerLayout layout = swf::LayoutPlayer(PlayerSizes[2]);
        try {
            newTab();
            tab->Open(opened);
            // The private page leads on by itself; a look taken while it does
            // finds no page to look at.
            QVERIFY(browser->WaitUntil(
                [&] {
                    try {
                        return tab->Evaluate("location.href").toString() == address;
                    } catch (const BrowserError&) {
                        return false;
                    }
                },
                30000));
            const QPoint origin = checkPlayer(2, 0xFF8000, true);
            const int videoX = layout.video.x + layout.video.width / 8;
            const QPoint top = origin + QPoint(videoX, layout.video.y + layout.video.height / 4);
            const QPoint bottom = origin + QPoint(videoX, layout.video.y + 3 * layout.video.height / 4);
            QImage shot;
            const bool playing = waitForPicture(
                [&](const QImage& image) {
                    return near(image.pixel(top), seen(ClipTop)) && near(image.pixel(bottom), seen(ClipBottom));
                },
                &shot, 30000);
            QVERIFY2(playing, qPrintable("video area shows " + hex(shot.pixel(top)) + " over " +
                                         hex(shot.pixel(bottom))));
            tab->Evaluate(
                "fetch('http://example.com/', {mode: 'no-cors'}).then(() => window.outside = 'reached', () "
                "=> window.outside = 'unreachable')");
            QVERIFY(
                browser->WaitUntil([&] { return !tab->Evaluate("window.outside").isUndefined(); }, 30000));
            QCOMPARE(tab->Evaluate("window.outside").toString(), QString("unreachable"));
        } catch (const BrowserError& failure) {
            QFAIL(failure.what());
        }
        preview.kill();
        preview.waitForFinished();
    }

    // The caption opens webPage, as the movie received it from the page
    // (decoded from the page's percent-encoding), in a new window; an
    // address that is not a web or mail address opens nothing.
    void linkOpensNewWindow()
    {
        const swf::PlayerLayout layout = swf::LayoutPlayer(PlayerSizes[1]);
        const QPoint captionAt(layout.caption.CenterX(), layout.caption.CenterY());
        // A new window shows up first as a blank page, then with its address.
        auto newWindow = [](const QJsonObject& event) {
            const QJsonObject target = event.value("params").toObject().value("targetInfo").toObject();
            const QString method = event.value("method").toString();
            return (method == "Target.targetCreated" || method == "Target.targetInfoChanged") &&
                           target.value("type") == "page"
                       ? target.value("url").toString()
                       : QString();
        };
        const QString address = site->Url("/linked.html?from=player&clip=1");
        try {
            const qsizetype before = browser->Events().size();
            QPoint origin = openPage(pageSettings(1, "008000", "", "1", "javascript:alert(1)"), 1, 0x008000);
            tab->Click(origin + captionAt);

            origin = openPage(pageSettings(1, "008000", "", "1", address.toStdString()), 1, 0x008000);
            tab->Click(origin + captionAt);
            const auto opened = browser->WaitForEvent(
                [&](const QJsonObject& event) { return newWindow(event) == address; }, 10000);
            QVERIFY2(opened, qPrintable("no new window for " + address));
            browser->Call(
                "Target.closeTarget",
                {{"targetId",
                  opened->value("params").toObject().value("targetInfo").toObject().value("targetId")}});
            for (qsizetype i = before; i < browser->Events().size(); ++i)
                QVERIFY2(!newWindow(browser->Events()[i]).startsWith("javascript"),
                         "a javascript: address opened");
        } catch (const BrowserError& failure) {
            QFAIL(failure.what());
        }
    }

    // A clip that is not there: Ruffle reports the failed load but tells the
    // movie nothing. After its wait the player says so: the play icon back,
    // "Clip not found" where the time was, the video area empty.
    void missingClip()
    {
        const swf::PlayerLayout layout = swf::LayoutPlayer(PlayerSizes[1]);
        PlayerPageSettings settings = pageSettings(1, "0000FF", "1", "1", "http://127.0.0.1/");
        settings.ClipFile = "missing.flv";
        // Without a length the time reads "0:00", far shorter than the message.
        settings.ClipLength = "";
        try {
            const QPoint origin = openPage(settings, 1, 0x0000FF);
            QVERIFY2(tab->WaitForConsole("Error during netstream load", 10000), consoleText().c_str());
            unveil(origin + QPoint(layout.video.CenterX(), layout.video.CenterY()));
            const QPoint iconMiddle =
                origin + QPoint(layout.playButton.CenterX(), layout.playButton.CenterY());
            const QRect time(origin + QPoint(layout.time.x, layout.time.y),
                             QSize(layout.time.width, layout.time.height));
            // The leftmost column of the time's dark text.
            auto textLeft = [&](const QImage& image) {
                for (int x = time.left(); x <= time.right(); ++x)
                    for (int y = time.top(); y <= time.bottom(); ++y)
                        if (qGray(image.pixel(x, y)) < 128)
                            return x;
                return time.right() + 1;
            };
            QImage shot;
            const bool notFound = waitForPicture(
                [&](const QImage& image) {
                    return near(image.pixel(iconMiddle), swf::PlayerColors::LightIcon, 8) &&
                           textLeft(image) < time.right() - 45;
                },
                &shot, (swf::ClipWaitSeconds + 20) * 1000);
            QVERIFY2(notFound, qPrintable(QString("icon %1, text from x %2 of %3")
                                              .arg(hex(shot.pixel(iconMiddle)))
                                              .arg(textLeft(shot) - time.left())
                                              .arg(time.width())));
            QVERIFY(FramedPanicText(*tab).isEmpty());
            const QPoint playFace = origin + QPoint(layout.playButton.x + 4, layout.playButton.CenterY());
            QVERIFY(near(shot.pixel(playFace), 0x0000FF, 8));
            const QPoint video = origin + QPoint(layout.video.CenterX(), layout.video.CenterY());
            QVERIFY2(near(shot.pixel(video), swf::PlayerColors::VideoFrame, 8),
                     qPrintable(hex(shot.pixel(video))));
        } catch (const BrowserError& failure) {
            QFAIL(failure.what());
        }
    }
};

OZ_TEST_MAIN(PlayerBrowserTest)
#include "tst_playerbrowser.moc"
