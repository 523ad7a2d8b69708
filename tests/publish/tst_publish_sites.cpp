// Publishing as a script does it, end to end: the windowless command sends a
// program folder's player page to real servers started on loopback (Debian's
// sshd, logged in by key file and by agent, pure-ftpd over TLS with the
// password on standard input and its certificate pinned, or a local folder),
// Debian's nginx serves what arrived, and headless Chromium at its default
// autoplay policy plays it as a visitor would, with no click.
#include "browser/HeadlessChromium.h"
#include "browser/PlayerSite.h"
#include "player/PlayerPage.h"
#include "support/FtpServer.h"
#include "support/DavServer.h"
#include "support/Media.h"
#include "support/SiteServers.h"
#include "support/TestSupport.h"
#include "swfgen/PlayerMovie.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

#include <sys/stat.h>

using namespace TestSupport;

namespace {

constexpr int SizeIndex = 2;
constexpr QRgb ButtonColor = 0xFF8000;

// The files of a folder, relative to it, sorted.
QStringList filesIn(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

// The end of the command's standard error, where the reason stands (after
// the progress lines), short enough for the test log.
QString ending(const QString& text)
{
    return text.right(900);
}

struct CommandResult {
    int ExitCode = -1;
    QString Out;
    QString Err;
};

}  // namespace

class PublishSitesTest : public QObject {
    Q_OBJECT

    QTemporaryDir work;
    QString program;  // a program folder of the test's own, with its page and clip
    std::unique_ptr<PlayerSite> converter;
    std::unique_ptr<SiteServers> servers;
    std::unique_ptr<FtpServer> ftp;
    std::unique_ptr<HeadlessChromium> browser;
    std::unique_ptr<BrowserTab> tab;

    // input: standard input's bytes; none: an empty input.
    CommandResult publish(const QStringList& arguments, const QByteArray& input = {})
    {
        QProcess command;
        QProcessEnvironment environment = servers->Environment();
        // The publish window's sites, a pinned certificate among them, in the test's HOME.
        environment.remove("XDG_CONFIG_HOME");
        // No desktop keyring.
        environment.remove("DBUS_SESSION_BUS_ADDRESS");
        command.setProcessEnvironment(environment);
        if (input.isEmpty())
            command.setStandardInputFile(QProcess::nullDevice());
        command.start(program + "ombrix-zudodira", QStringList{"--publish"} + arguments);
        if (!input.isEmpty()) {
            command.write(input);
            command.closeWriteChannel();
        }
        CommandResult result;
        if (!command.waitForFinished(180000)) {
            command.kill();
            command.waitForFinished();
            result.Err = "the command did not finish";
            return result;
        }
        result.ExitCode = command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1;
        result.Out = QString::fromLocal8Bit(command.readAllStandardOutput());
        result.Err = QString::fromLocal8Bit(command.readAllStandardError());
        return result;
    }

    // A publish the test's own certificate stops, with its fingerprint; the
    // site's entry then pins it, as the window does when the user trusts it.
    void pinRefusedCertificate(const QStringList& arguments, const QByteArray& input)
    {
        const CommandResult refused = publish(arguments, input);
        QCOMPARE(refused.ExitCode, 1);
        const QString pin = QRegularExpression("SHA256:[0-9A-F:]{95}").match(refused.Err).captured();
        QVERIFY2(!pin.isEmpty(), qPrintable(ending(refused.Err)));
        QSettings sites(servers->Home() + "/.config/ombrix-zudodira/publish.conf", QSettings::IniFormat);
        sites.beginWriteArray("sites", 1);
        sites.setArrayIndex(0);
        sites.setValue("destination", arguments[0]);
        sites.setValue("pinnedCertificate", pin);
        sites.endArray();
    }

    // What the page needs, byte for byte, and nothing else (no temporary file).
    void checkFiles(const QString& site)
    {
        const QString html = program + "html/";
        QStringList expected{"holiday.html", "flv_player_320x240.swf", "flvs/holiday.flv"};
        for (const QString& file : filesIn(html + "ruffle"))
            expected << "ruffle/" + file;
        expected.sort();
        QCOMPARE(filesIn(site), expected);
        for (const QString& file : expected) {
            const QString source = file == "holiday.html" ? "SitePage.html" : file;
            QVERIFY2(ReadFile(site + file) == ReadFile(html + source), qPrintable(file));
        }
    }

    // The published page as a new visitor sees it, with no click: the player
    // at its size, no splash or play button of Ruffle's, the buttons in their
    // colour and the clip playing (muted behind Ruffle's unmute overlay when
    // the browser wants a click for sound).
    void checkInBrowser(const QString& address)
    {
        tab = std::make_unique<BrowserTab>(*browser, PlayerSite::Viewport());
        tab->Open(address);
        RuffleState ruffle;
        QVERIFY2(browser->WaitUntil([&] { return (ruffle = FramedRuffleState(*tab)).Loaded; }, 30000),
                 qPrintable("Ruffle did not load the movie:\n" + tab->ConsoleLines().join('\n')));
        QVERIFY(!ruffle.Splash && !ruffle.PlayButton);
        auto seen = [&](QRgb color) { return ruffle.UnmuteOverlay ? BehindUnmuteOverlay(color) : color; };

        const PlayerSize& size = PlayerSizes[SizeIndex];
        QRect player;
        browser->WaitUntil(
            [&] {
                return (player = FramedPlayerRect(*tab)).size() == QSize(size.stageWidth, size.stageHeight);
            },
            30000);
        QCOMPARE(player.size(), QSize(size.stageWidth, size.stageHeight));
        QVERIFY2(FramedPanicText(*tab).isEmpty(), qPrintable(FramedPanicText(*tab)));

        const swf::PlayerLayout layout = swf::LayoutPlayer(size);
        const QPoint origin = player.topLeft();
        const QPoint playFace = origin + QPoint(layout.playButton.x + 4, layout.playButton.CenterY());
        // Left of the unmute overlay's icon, which takes the middle half.
        const int videoX = layout.video.x + layout.video.width / 8;
        const QPoint top = origin + QPoint(videoX, layout.video.y + layout.video.height / 4);
        const QPoint bottom = origin + QPoint(videoX, layout.video.y + 3 * layout.video.height / 4);
        QImage shot;
        const bool playing = browser->WaitUntil(
            [&] {
                shot = tab->Screenshot();
                return near(shot.pixel(playFace), seen(ButtonColor), 8) &&
                       near(shot.pixel(top), seen(ClipTop)) && near(shot.pixel(bottom), seen(ClipBottom));
            },
            30000);
        QVERIFY2(playing,
                 qPrintable("button " + hex(shot.pixel(playFace)) + ", video area " + hex(shot.pixel(top)) +
                            " over " + hex(shot.pixel(bottom)) + "\n" + tab->ConsoleLines().join('\n')));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(OZ_RUFFLE_FOLDER "/ruffle.js"),
                 "Ruffle is missing from the program folder's html/ruffle/");
        QVERIFY2(QFileInfo::exists("/usr/bin/chromium"), "Debian's chromium is not installed");

        // The program folder, made as "Generate Player" leaves it.
        program = work.filePath("program/");
        converter =
            std::make_unique<PlayerSite>(work.filePath("program"), OZ_PROGRAM_FOLDER, OZ_RUFFLE_FOLDER);
        QString error;
        QVERIFY2(converter->Start(&error), qPrintable(error));
        const QString video = work.filePath("camera clip.avi");
        error = MakeClip(video, {"-f", "lavfi", "-i", ClipPicture, "-f", "lavfi", "-i", "sine=frequency=440"},
                         {"-t", "6", "-c:v", "mpeg4", "-q:v", "3", "-c:a", "mp2", "-ar", "48000"});
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY2(converter->ConvertClip(video, "holiday.flv", &error), qPrintable(error));
        const QDir build(OZ_PROGRAM_FOLDER);
        QVERIFY(QDir(program).mkpath("html/ruffle"));
        QStringList files{"ombrix-zudodira"};
        for (const QString& name : QDir(OZ_RUFFLE_FOLDER).entryList(QDir::Files))
            files << "html/ruffle/" + name;
        for (const QString& file : files)
            QVERIFY2(QFile::copy(build.filePath(file), program + file), qPrintable(file));
        const PlayerPageSettings settings{
            PlayerSizes[SizeIndex], "holiday.flv",      "6", "FF8000", "2", "1", "1",
            "Ombrix Zidad",         "http://a.example/"};
        for (const auto& [name, text] : {std::pair{"html/TempHtml.html", PlayerPageText(settings)},
                                         std::pair{"html/SitePage.html", SitePageText(settings)}}) {
            QFile page(program + name);
            QVERIFY(page.open(QIODevice::WriteOnly));
            page.write(QByteArray::fromStdString(text));
        }

        servers = std::make_unique<SiteServers>(work.filePath("servers"));
        QVERIFY2(servers->Start(&error), qPrintable(error));
        QVERIFY(servers->TrustHostKey());
        // Its login's folder inside what nginx serves.
        ftp = std::make_unique<FtpServer>(work.filePath("ftp"), servers->SiteFolder() + "/ftps");
        QVERIFY2(ftp->Start(&error), qPrintable(error));
        try {
            browser = std::make_unique<HeadlessChromium>(work.filePath("browser"));
        } catch (const BrowserError& failure) {
            QFAIL(failure.what());
        }
    }

    void cleanupTestCase()
    {
        tab.reset();
        browser.reset();
        servers.reset();
        ftp.reset();
    }

    void publishes_data()
    {
        QTest::addColumn<QString>("folder");  // in the site
        QTest::addColumn<QString>("login");   // "key", "agent", or "" for a local folder
        QTest::newRow("sftp, key file") << "keyed"
                                        << "key";
        QTest::newRow("sftp, agent") << "agent"
                                     << "agent";
        QTest::newRow("ftps, password") << "ftps"
                                        << "ftps";
        QTest::newRow("local folder") << "local"
                                      << "";
        QTest::newRow("local folder, password on standard input") << "stdin"
                                                                  << "stdin";
    }
    void publishes()
    {
        QFETCH(QString, folder);
        QFETCH(QString, login);
        const QString html = program + "html/";
        const QString site = servers->SiteFolder() + "/" + folder + "/";
        const bool local = login.isEmpty() || login == "stdin";
        QStringList arguments{local             ? site
                              : login == "ftps" ? ftp->Destination(true, "")
                                                : servers->Destination(folder),
                              "--public-address", servers->WebAddress(folder + "/")};
        if (login == "key")
            arguments << "--key" << servers->KeyFile();
        QByteArray input;
        const QByteArray password = login == "ftps" ? ftp->Password().toUtf8() : "0n-standard-input-only";
        if (login == "stdin" || login == "ftps") {
            arguments << "--password-stdin";
            const CommandResult none = publish(arguments);
            QCOMPARE(none.ExitCode, 2);
            QVERIFY2(none.Err.contains("No password came on standard input."), qPrintable(none.Err));
            input = password + "\n";
        }
        if (login == "ftps") {
            // The test's own certificate: refused, with its fingerprint, until
            // the site's entry pins it as the window does.
            pinRefusedCertificate(arguments, input);
        }
        const qsizetype before = servers->WrittenFiles().size();
        const qsizetype requestsBefore = servers->WebRequests().size();
        const CommandResult first = publish(arguments, input);
        QVERIFY2(first.ExitCode == 0, qPrintable(ending(first.Err)));
        QVERIFY(!(first.Out + first.Err).contains(password));
        QCOMPARE(first.Out.trimmed(), servers->WebAddress(folder + "/holiday.html"));

        checkFiles(site);
        if (QTest::currentTestFailed())
            return;
        const QStringList ruffle = filesIn(html + "ruffle");

        // The command's own check fetched the page and what it loads from nginx.
        const QStringList fetched = servers->WebRequests().mid(requestsBefore);
        for (const char* file :
             {"holiday.html", "flv_player_320x240.swf", "flvs/holiday.flv", "ruffle/ruffle.js"})
            QVERIFY2(fetched.contains("/" + folder + "/" + QString(file)), qPrintable(fetched.join(' ')));

        if (login != "stdin")  // the same page as the local folder's
            checkInBrowser(first.Out.trimmed());
        if (QTest::currentTestFailed() || local)
            return;
        if (login == "ftps") {
            // Renamed into place anew, but Ruffle left alone.
            const auto inode = [&](const QString& file) {
                struct stat status {};
                return ::stat(QFile::encodeName(site + file).constData(), &status) == 0 ? status.st_ino : ino_t(0);
            };
            const auto page = inode("holiday.html"), ruffleJs = inode("ruffle/ruffle.js");
            const CommandResult second = publish(arguments, input);
            QVERIFY2(second.ExitCode == 0, qPrintable(second.Err));
            QVERIFY(inode("holiday.html") != page);
            QCOMPARE(inode("ruffle/ruffle.js"), ruffleJs);
            checkFiles(site);
            return;
        }

        // Counted by the server: the first publish sent every Ruffle file, a
        // second one sends the rest again but no Ruffle file.
        auto ruffleFiles = [&](const QStringList& written) {
            return written.filter("/" + folder + "/ruffle/").size();
        };
        QCOMPARE(ruffleFiles(servers->WrittenFiles().mid(before)), ruffle.size());
        const qsizetype beforeSecond = servers->WrittenFiles().size();
        const CommandResult second = publish(arguments);
        QVERIFY2(second.ExitCode == 0, qPrintable(ending(second.Err)));
        const QStringList written = servers->WrittenFiles().mid(beforeSecond);
        QVERIFY2(!written.isEmpty(), "the server counted nothing");
        QCOMPARE(ruffleFiles(written), 0);
        checkFiles(site);
    }

    // Over WebDAV through the command (https with the server's own
    // certificate, refused until pinned; plain http to an nginx that cannot
    // list a folder), then the page from the web server's view of the same
    // folder; a second publish sends no Ruffle file again.
    void publishesOverWebDav_data()
    {
        QTest::addColumn<bool>("propfind");
        QTest::newRow("webdav, https") << true;
        QTest::newRow("webdav, http, no PROPFIND") << false;
    }
    void publishesOverWebDav()
    {
        QFETCH(bool, propfind);
        TestSupport::DavServer dav(work.filePath(propfind ? "dav" : "dav-plain"));
        if (!propfind)
            dav.WithoutPropfind();
        QString error;
        QVERIFY2(dav.Start(&error), qPrintable(error));
        const QStringList arguments{dav.Destination(propfind, "clips"), "--public-address",
                                    dav.WebAddress("clips/"), "--password-stdin"};
        const QByteArray input = dav.Password().toUtf8() + "\n";
        if (propfind) {
            pinRefusedCertificate(arguments, input);
            if (QTest::currentTestFailed())
                return;
        }
        const CommandResult first = publish(arguments, input);
        QVERIFY2(first.ExitCode == 0, qPrintable(ending(first.Err)));
        QCOMPARE(first.Out.trimmed(), dav.WebAddress("clips/holiday.html"));
        checkFiles(dav.SiteFolder() + "/clips/");
        checkInBrowser(first.Out.trimmed());

        const QString ruffle = "PUT /clips/ruffle/";
        const qsizetype ruffleFiles = filesIn(program + "html/ruffle").size();
        QCOMPARE(dav.DavRequests().filter(ruffle).size(), ruffleFiles);
        const CommandResult second = publish(arguments, input);
        QVERIFY2(second.ExitCode == 0, qPrintable(ending(second.Err)));
        QCOMPARE(dav.DavRequests().filter(ruffle).size(), ruffleFiles);
        checkFiles(dav.SiteFolder() + "/clips/");
    }
};

OZ_TEST_MAIN(PublishSitesTest)
#include "tst_publish_sites.moc"
