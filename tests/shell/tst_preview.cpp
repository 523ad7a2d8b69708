// The preview: the program folder's html/ served to the user's browser on
// loopback. Requests are sent as raw bytes, so nothing on the way tidies
// them up before the server sees them.
#include "app/Preview.h"
#include "base/Descriptors.h"
#include "app/PublishSites.h"
#include "app/PublishWindow.h"
#include "platform/Keyring.h"
#include "support/FtpServer.h"
#include "support/SecretService.h"
#include "support/SiteServers.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDirIterator>
#include <QLineEdit>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSettings>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QProcess>
#include <QPushButton>
#include <QTcpSocket>
#include <QUrl>

#include <algorithm>
#include <ctime>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace TestSupport;

namespace {

// What came back: the status code, "closed" when the server hung up without
// one, or "no answer".
struct Answer {
    QByteArray Status;
    QByteArray Bytes;
};

// Sends request; with untilClosed, waits for the server to hang up after
// its answer as well.
Answer ask(quint16 port, const QByteArray& request, bool untilClosed = false,
           const QHostAddress& to = QHostAddress::LocalHost, const QHostAddress& from = {})
{
    QTcpSocket socket;
    // Straight to the server: asking the system for a proxy starts a thread
    // of a library that sanitizer builds cannot follow, and is beside the point.
    socket.setProxy(QNetworkProxy::NoProxy);
    if (!from.isNull() && !socket.bind(from))
        return {"cannot bind", {}};
    socket.connectToHost(to, port);
    if (!WaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState || socket.error() >= 0; },
                 10000) ||
        socket.state() != QAbstractSocket::ConnectedState)
        return {"refused", {}};
    socket.write(request);
    QByteArray bytes;
    WaitFor(
        [&] {
            bytes += socket.readAll();
            return (!untilClosed && bytes.contains("\r\n\r\n")) ||
                   socket.state() == QAbstractSocket::UnconnectedState;
        },
        30000);
    bytes += socket.readAll();
    if (bytes.isEmpty())
        return {socket.state() == QAbstractSocket::UnconnectedState ? "closed" : "no answer", {}};
    return {bytes.mid(9, 3) +
                (untilClosed && socket.state() == QAbstractSocket::UnconnectedState ? " closed" : ""),
            bytes};
}

// A site page for the clip, as "Generate Player" writes it.
QByteArray sitePage(const QByteArray& clip)
{
    return "<html> <body>\r\n<script src=\"ruffle/ruffle.js\"></script>\r\n"
           "<object><param name=\"movie\" value=\"flv_player_320x240.swf\"><embed src=\"flv_player_320x240.swf?"
           "file=flvs\\" + clip + ".flv&clipLength=10\"></object>\r\n</body> </html>\r\n";
}

// The connections established at port's end (held, or waiting to be taken).
int openAt(quint16 port)
{
    QFile table("/proc/self/net/tcp");
    const QByteArray local = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    int open = 0;
    for (const QByteArray& line :
         table.open(QIODevice::ReadOnly) ? table.readAll().split('\n') : QList<QByteArray>{}) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        open += fields.size() > 3 && fields[1].endsWith(local) && fields[3] == "01";
    }
    return open;
}

// Who else is at the server while a row's request is answered.
enum Crowd { Nobody, ReaderThatNeverReads, SlowWasmReaders, IdleConnections, IdleHalfSentKeptAlive };

}  // namespace

class PreviewTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempProgramFolder> folder;
    std::unique_ptr<DialogRecorder> dialogs;
    std::unique_ptr<Preview> preview;

    quint16 port() const { return preview->Server->Port(); }
    // The path of the secret the preview's address carries, without the
    // final '/'.
    QByteArray secret() const
    {
        return QUrl(preview->Server->Url("/")).path(QUrl::FullyEncoded).chopped(1).toUtf8();
    }
    QByteArray get(const QByteArray& target, const QByteArray& method = "GET") const
    {
        return method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port()) +
               "\r\n\r\n";
    }
    QByteArray page() const { return get(secret() + "/TempHtml.html"); }

    // The crowd, each connection through to the server and each reader
    // receiving; a reader takes little off the line, so the rest backs up.
    std::vector<std::unique_ptr<QTcpSocket>> gather(Crowd crowd)
    {
        const QList<QByteArray> sends =
            crowd == ReaderThatNeverReads    ? QList<QByteArray>{get(secret() + "/flvs/big.flv")}
            : crowd == SlowWasmReaders       ? QList<QByteArray>(30, get(secret() + "/ruffle/big.wasm"))
            : crowd == IdleConnections       ? QList<QByteArray>(1100)
            : crowd == IdleHalfSentKeptAlive ? QList<QByteArray>{{}, page().chopped(2), page()}
                                             : QList<QByteArray>{};
        std::vector<std::unique_ptr<QTcpSocket>> peers;
        for (const QByteArray& sent : sends) {
            QTcpSocket& peer = *peers.emplace_back(std::make_unique<QTcpSocket>());
            peer.setProxy(QNetworkProxy::NoProxy);
            peer.setReadBufferSize(16 * 1024);
            peer.connectToHost(QHostAddress::LocalHost, port());
            peer.write(sent);
            if (peers.size() % 50 == 0)
                QCoreApplication::processEvents();
        }
        const bool readers = crowd == ReaderThatNeverReads || crowd == SlowWasmReaders;
        WaitFor([&] {
            return std::all_of(peers.begin(), peers.end(), [&](const auto& peer) {
                return peer->state() != QAbstractSocket::ConnectingState &&
                       peer->state() != QAbstractSocket::HostLookupState &&
                       (!readers || peer->bytesAvailable());
            });
        });
        return peers;
    }

    // What the browser was handed last names no secret, only a page that
    // nobody else may read, in privateFolder; the page leads to the address
    // and is gone once the browser has come with the secret.
    void checkRedirect(const QString& privateFolder)
    {
        QVERIFY(!dialogs->OpenedAddresses.empty());
        const QString opened = QString::fromStdString(dialogs->OpenedAddresses.back());
        const QString file = QUrl(opened).toLocalFile();
        QVERIFY2(!opened.contains(secret().mid(1)) && QFileInfo(file).path() == privateFolder, qPrintable(opened));
        struct stat fileStatus {}, folderStatus {};
        QVERIFY(::lstat(QFile::encodeName(file), &fileStatus) == 0 &&
                ::lstat(QFile::encodeName(privateFolder), &folderStatus) == 0);
        QCOMPARE(fileStatus.st_mode & 07777, 0600u);
        QCOMPARE(folderStatus.st_mode & 07777, 0700u);
        const QByteArray address = preview->Server->Url("/").toUtf8(), text = ReadFile(file);
        QVERIFY2(text.contains("http-equiv=\"refresh\" content=\"0; url=" + address + '"') &&
                     text.contains("<a href=\"" + address + '"'),
                 text.constData());
        QCOMPARE(ask(port(), page()).Status, QByteArray("200"));  // an open tab's request is no arrival
        QVERIFY(QFile::exists(file));
        QCOMPARE(ask(port(), get(secret() + "/")).Status, QByteArray("200"));
        QVERIFY2(WaitFor([&] { return !QFile::exists(file); }, 30000), "the page that leads to the secret stayed");
    }

    void writeFile(const QString& relative, const QByteArray& bytes)
    {
        QFile file(folder->QPath() + relative);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }

private slots:
    void initTestCase()
    {
        folder = std::make_unique<TempProgramFolder>();
        dialogs = std::make_unique<DialogRecorder>();
        writeFile("html/TempHtml.html", "<html> <body>\r\n<br>\r\n");
        writeFile("html/notes.txt", "notes\n");
        writeFile("secret.html", "SECRET\n");
        // What a publish sends: the site page, its movie, the clip, Ruffle.
        // The settings go into this folder, not the user's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder->QPath() + "settings");
        // No desktop keyring, unless a test starts one of its own.
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        writeFile("html/SitePage.html", sitePage("holiday"));
        writeFile("html/flv_player_320x240.swf", "FWS movie");
        writeFile("html/flvs/holiday.flv", QByteArray(8 << 20, 'v'));
        QVERIFY(QDir().mkpath(folder->QPath() + "html/ruffle"));
        writeFile("html/ruffle/ruffle.js", "// ruffle");
        QVERIFY(QDir().mkpath(folder->QPath() + "html/sub.flv"));
        QVERIFY(QFile::link("/etc/passwd", folder->QPath() + "html/flvs/passwd.flv"));
        QVERIFY(QFile::link("../../secret.html", folder->QPath() + "html/flvs/secret.html"));
        // Large and sparse, so they cost the disk nothing.
        QVERIFY(QDir().mkpath(folder->QPath() + "html/ruffle"));
        for (const auto& [name, size] :
             {std::pair{"html/flvs/big.flv", 300'000'000}, {"html/ruffle/big.wasm", 14'000'000}}) {
            QFile file(folder->QPath() + name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
        }
        // Room for the crowd's descriptors beside the server's, in this one process.
        Platform::RaiseDescriptorLimit();
        // A runtime folder open to others is passed over for one of our own in the cache.
        qputenv("XDG_RUNTIME_DIR", "/tmp");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(folder->QPath() + "cache"));
        preview = StartPreview();
        qunsetenv("XDG_RUNTIME_DIR");
        QVERIFY(preview);
        checkRedirect(folder->QPath() + "cache/ombrix-zudodira");
    }

    void cleanupTestCase()
    {
        preview.reset();
        dialogs.reset();
        folder.reset();
    }

    // Only regular files of the page's kinds inside html/, only GET and
    // HEAD; a request too long is cut off; after each, the server goes on.
    void hostileRequests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("crowd");
        auto row = [](const char* name, const QByteArray& request, const char* expected,
                      Crowd crowd = Nobody) {
            QTest::newRow(name) << request << QByteArray(expected) << int(crowd);
        };
        const QByteArray outside = QFile::encodeName(folder->QPath() + "secret.html");
        const QByteArray at = secret(), ourPort = ':' + QByteArray::number(port());
        row("the page", page(), "200");
        row("HEAD of the page", get(at + "/TempHtml.html", "HEAD"), "200");
        row("/../", get(at + "/../secret.html"), "404");
        row("/flvs/../../", get(at + "/flvs/../../secret.html"), "404");
        row("%2e%2e/", get(at + "/%2e%2e/secret.html"), "404");
        row("..%2f", get(at + "/..%2fsecret.html"), "404");
        row("%2E%2E%2F upper case", get(at + "/%2E%2E%2Fsecret.html"), "404");
        row("..\\", get(at + "/..\\secret.html"), "404");
        row("absolute path", get(at + outside), "404");
        row("//absolute path", get(at + "/" + outside), "404");
        row("absolute-form address", get("http://127.0.0.1" + ourPort + at + "/../secret.html"), "404");
        row("symlink to /etc/passwd", get(at + "/flvs/passwd.flv"), "404");
        row("symlink out of html/", get(at + "/flvs/secret.html"), "404");
        row("a folder", get(at + "/flvs/"), "404");
        row("a folder named like a clip", get(at + "/sub.flv"), "404");
        row("a file of another kind", get(at + "/notes.txt"), "404");
        row("NUL", get(at + "/TempHtml.html%00.flv"), "404");
        // Only for the owner, who has the address, by the server's own name.
        row("no secret", get("/TempHtml.html"), "404");
        row("a wrong secret", get(at.chopped(1) + (at.endsWith('0') ? "1" : "0") + "/TempHtml.html"), "404");
        row("a foreign Host", QByteArray(page()).replace("127.0.0.1:", "rebound.example:"), "400 closed");
        row("Host localhost", QByteArray(page()).replace("127.0.0.1:", "localhost:"), "200");
        row("HTTP/1.0",
            QByteArray(page()).replace("HTTP/1.1", "HTTP/1.0").chopped(2) + "Connection: keep-alive\r\n\r\n",
            "200 closed");
        row("Connection: close", page().chopped(2) + "Connection: close\r\n\r\n", "200 closed");
        row("POST",
            "POST " + at + "/TempHtml.html HTTP/1.1\r\nHost: 127.0.0.1" + ourPort +
                "\r\nContent-Length: 3\r\n\r\na=b",
            "405");
        row("PUT", get(at + "/TempHtml.html", "PUT"), "405");
        row("1 MB header", page().chopped(2) + "X-Big: " + QByteArray(1 << 20, 'a') + "\r\n\r\n", "closed");
        row("1 MB request line", get(at + "/" + QByteArray(1 << 20, 'a') + ".html"), "closed");
        row("16 MB body", "POST / HTTP/1.1\r\nContent-Length: 16000000\r\n\r\n" + QByteArray(16000000, 'a'),
            "closed");
        // What the server holds follows the connection, not the file; it
        // stays up with a crowd at the door, and closes who lingers.
        row("a reader that never reads a 300 MB clip", page(), "200", ReaderThatNeverReads);
        row("30 slow readers of the wasm", page(), "200", SlowWasmReaders);
        row("1,100 idle connections", page(), "200", IdleConnections);
        row("idle, half-sent and kept-alive connections closed in time", page(), "200",
            IdleHalfSentKeptAlive);
    }
    void hostileRequests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        QFETCH(int, crowd);
        if (rlimit limit{};
            crowd == IdleConnections && (getrlimit(RLIMIT_NOFILE, &limit) || limit.rlim_cur < 1300))
            QSKIP("this process may not open enough descriptors for the crowd");
        const long before = CurrentResources().ResidentKiB;
        const auto peers = gather(Crowd(crowd));
        QElapsedTimer clock;
        clock.start();
        const Answer answer = ask(port(), request, expected.endsWith(" closed"));
        const qint64 took = clock.elapsed();
        qInfo("%s -> %s in %lld ms", QTest::currentDataTag(), answer.Status.constData(), took);
        QCOMPARE(answer.Status, expected);
        QVERIFY(!answer.Bytes.contains("SECRET") && !answer.Bytes.contains("root:"));
        QVERIFY2(answer.Status.startsWith("200") || !answer.Bytes.contains("<body>"),
                 "a refusal carried the page");
        for (int turn = 0; turn < 20 && crowd != Nobody; ++turn) {
            QTest::qWait(50);  // the readers take a trickle, the server would fill up on the rest
            for (const auto& peer : peers)
                peer->read(256);
        }
        if (!SanitizerBuild)
            QVERIFY2(CurrentResources().ResidentKiB - before < (crowd == Nobody ? 8 : 32) * 1024,
                     "the server kept what it was sent or is sending");
        if (crowd == IdleConnections) {
            QVERIFY2(took < (SanitizerBuild ? 20000 : 2000), "the crowd held up the answer");
            QVERIFY(openAt(port()) <= HtmlServer::MaxConnections);
            const std::clock_t start = std::clock();
            QTest::qWait(2000);
            const double share = double(std::clock() - start) / CLOCKS_PER_SEC / 2;
            qInfo("%.1f %% of a core beside the crowd", share * 100);
            QVERIFY2(share < 0.2, "the server is busy while nobody asks anything");
        }
        const auto closed = [](const auto& peer) {
            return peer->state() == QAbstractSocket::UnconnectedState;
        };
        if (crowd == IdleHalfSentKeptAlive)
            QVERIFY2(WaitFor([&] { return std::all_of(peers.begin(), peers.end(), closed); },
                             std::chrono::milliseconds(HtmlServer::IdleLimit).count() + 30000),
                     "a lingering connection stayed open");
        QCOMPARE(ask(port(), page()).Status, QByteArray("200"));
    }

    // Nothing listens on the machine's other addresses, and a peer that
    // reaches the loopback address from one of them gets nothing either.
    void nothingBeyondLoopback()
    {
        int tried = 0;
        for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
            if (address.isLoopback() || address.protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            ++tried;
            const Answer to = ask(port(), page(), false, address);
            const Answer from = ask(port(), page(), false, QHostAddress::LocalHost, address);
            qInfo("to %s -> %s; from it -> %s", qPrintable(address.toString()), to.Status.constData(),
                  from.Status.constData());
            QCOMPARE(to.Status, QByteArray("refused"));
            QCOMPARE(from.Status, QByteArray("404"));
        }
        if (tried == 0)
            QSKIP("this machine has no address beyond loopback");
    }

    // "Publish..." opens the publish window; publishing to a folder offers
    // the page's address; the window remembers all but the password; a
    // cancel reaches the engine and leaves nothing behind.
    void publishFromThePreview()
    {
        DialogRecorder recorder;
        QTest::mouseClick(Control<QPushButton>(preview->Window.get(), "Button3"), Qt::LeftButton);
        TPublishWindow* window = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* publish = qobject_cast<TPublishWindow*>(widget); publish && publish->isVisible())
                window = publish;
        QVERIFY(window);
        QCOMPARE(Control<QLineEdit>(window, "Edit5")->text(), QString("holiday.html"));
        const QString site = folder->QPath() + "site";
        const QString password = "Pa55-word-never-kept";
        Control<QLineEdit>(window, "Edit2")->setText("/home/me/.ssh/id_test");
        Control<QRadioButton>(window, "RadioButton3")->setChecked(true);
        Control<QLineEdit>(window, "Edit3")->setText(password);
        // No keyring here: the password can be typed, not remembered, and the window says why.
        Control<QLineEdit>(window, "Edit1")->setText("sftp://me@example.org/clips");
        QVERIFY(Control<QLineEdit>(window, "Edit3")->isEnabled());
        QVERIFY(!Control<QCheckBox>(window, "CheckBox1")->isEnabled());
        QVERIFY(!Control<QLabel>(window, "Label7")->text().isEmpty());
        Control<QLineEdit>(window, "Edit1")->setText(site);
        Control<QLineEdit>(window, "Edit5")->setText("mine.html");
        recorder.OnChoice = [](const Dialogs::ChoiceRequest&) { return 1; };  // "Copy address"
        QTest::mouseClick(Control<QPushButton>(window, "Button3"), Qt::LeftButton);
        QVERIFY(WaitFor([&] { return !window->Publishing(); }));
        QVERIFY2(recorder.Messages.empty(), recorder.Messages.empty() ? "" : recorder.Messages[0].Text.c_str());
        QCOMPARE(recorder.Choices.size(), size_t(1));
        const QString address = QGuiApplication::clipboard()->text();
        QVERIFY2(address.endsWith("mine.html") && recorder.Choices[0].Text.find(address.toStdString()) !=
                                                      std::string::npos,
                 recorder.Choices[0].Text.c_str());
        QCOMPARE(ReadFile(site + "/mine.html"), ReadFile(folder->QPath() + "html/SitePage.html"));

        // Remembered for next time, the page name only for the same clip.
        const QByteArray settings = ReadFile(TPublishWindow::SettingsFile());
        QVERIFY2(!settings.isEmpty() && !settings.contains(password.toUtf8()), settings.constData());
        {
            TPublishWindow again;
            QCOMPARE(Control<QLineEdit>(&again, "Edit1")->text(), site);
            QCOMPARE(Control<QLineEdit>(&again, "Edit2")->text(), QString("/home/me/.ssh/id_test"));
            QVERIFY(Control<QRadioButton>(&again, "RadioButton3")->isChecked());
            QCOMPARE(Control<QLineEdit>(&again, "Edit3")->text(), QString());
            QCOMPARE(Control<QLineEdit>(&again, "Edit5")->text(), QString("mine.html"));
        }
        writeFile("html/SitePage.html", sitePage("party"));
        {
            TPublishWindow other;
            QCOMPARE(Control<QLineEdit>(&other, "Edit5")->text(), QString("party.html"));
        }
        writeFile("html/SitePage.html", sitePage("holiday"));

        // Cancelled at once: the page is as it was, and no temporary file is left.
        const QByteArray before = ReadFile(site + "/mine.html");
        writeFile("html/SitePage.html", sitePage("holiday") + "<!-- changed -->\r\n");
        QTest::mouseClick(Control<QPushButton>(window, "Button3"), Qt::LeftButton);
        QTest::mouseClick(Control<QPushButton>(window, "Button4"), Qt::LeftButton);
        QVERIFY(WaitFor([&] { return !window->Publishing(); }));
        QVERIFY2(Control<QLabel>(window, "Label5")->text().contains("cancelled"),
                 qPrintable(Control<QLabel>(window, "Label5")->text()));
        QVERIFY(recorder.Messages.empty());
        QCOMPARE(recorder.Choices.size(), size_t(1));
        QCOMPARE(ReadFile(site + "/mine.html"), before);
        QStringList files;
        for (QDirIterator it(site, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
            files << it.next().mid(site.size() + 1);
        files.sort();
        QCOMPARE(files, (QStringList{"flv_player_320x240.swf", "flvs/holiday.flv", "mine.html", "ruffle/big.wasm",
                                     "ruffle/ruffle.js"}));
        writeFile("html/SitePage.html", sitePage("holiday"));
        window->close();
    }

    // The engine's question about an unknown server key comes to the user
    // from its worker, by its fingerprint: "No" sends nothing, "Yes" trusts
    // the key from then on.
    void hostKeyQuestionFromTheEngine()
    {
        QTemporaryDir work;
        SiteServers servers(work.filePath("servers"));
        QString error;
        QVERIFY2(servers.Start(&error), qPrintable(error));
        const QByteArray home = qgetenv("HOME");
        qputenv("HOME", servers.Home().toLocal8Bit());
        const auto restoreHome = qScopeGuard([&] { qputenv("HOME", home); });
        DialogRecorder recorder;
        TPublishWindow window;
        window.show();
        Control<QLineEdit>(&window, "Edit1")->setText(servers.Destination("asked"));
        Control<QRadioButton>(&window, "RadioButton1")->setChecked(true);
        Control<QLineEdit>(&window, "Edit2")->setText(servers.KeyFile());
        Control<QLineEdit>(&window, "Edit5")->setText("holiday.html");
        for (const int answer : {1, 0, -1}) {  // "No", "Yes", not asked again
            recorder.Choices.clear();
            recorder.Messages.clear();
            recorder.OnChoice = [&](const Dialogs::ChoiceRequest& request) {
                return request.Answers.front() == "Yes" ? answer : 2;
            };
            QTest::mouseClick(Control<QPushButton>(&window, "Button3"), Qt::LeftButton);
            QVERIFY(WaitFor([&] { return !window.Publishing(); }, 120000));
            const bool asked = !recorder.Choices.empty() && recorder.Choices.front().Answers.front() == "Yes";
            QCOMPARE(asked, answer >= 0);
            if (asked)
                QVERIFY2(recorder.Choices.front().Text.find(servers.HostKeyFingerprint().toStdString()) !=
                             std::string::npos,
                         recorder.Choices.front().Text.c_str());
            QVERIFY2(recorder.Messages.size() == size_t(answer == 1 ? 1 : 0),
                     recorder.Messages.empty() ? "no message" : recorder.Messages.front().Text.c_str());
            QCOMPARE(QFile::exists(servers.SiteFolder() + "/asked/holiday.html"), answer != 1);
        }
    }

    // Without a keyring, the typed password publishes. Plain FTP is warned
    // of once per site; the engine's question about a certificate the
    // system does not trust comes from its worker with the fingerprint: "No"
    // sends nothing, "Yes" pins it to the site, which is not asked again.
    void ftpWarnsOnceAndPinsTheCertificate()
    {
        QTemporaryDir work;
        FtpServer ftp(work.filePath("ftp"));
        QString error;
        QVERIFY2(ftp.Start(&error), qPrintable(error));
        DialogRecorder recorder;
        TPublishWindow window;
        window.show();
        Control<QLineEdit>(&window, "Edit5")->setText("holiday.html");
        struct Step {
            QString Destination;
            QString Answered;  // the box's first answer
            int Answer;        // -1: no box with that answer may come
            bool Sent;
        };
        const QString plain = ftp.Destination(false, "plain"), tls = ftp.Destination(true, "tls");
        for (const Step& step : {Step{plain, "Publish", 1, false}, Step{plain, "Publish", 0, true},
                                 Step{plain, "Publish", -1, true}, Step{tls, "Yes", 1, false},
                                 Step{tls, "Yes", 0, true}, Step{tls, "Yes", -1, true}}) {
            recorder.Choices.clear();
            recorder.Messages.clear();
            recorder.OnChoice = [&](const Dialogs::ChoiceRequest& request) {
                return request.Answers.front() == step.Answered.toStdString() ? step.Answer : request.Escape;
            };
            Control<QLineEdit>(&window, "Edit1")->setText(step.Destination);
            Control<QLineEdit>(&window, "Edit3")->setText(ftp.Password());
            QVERIFY(!Control<QCheckBox>(&window, "CheckBox1")->isEnabled());
            QTest::mouseClick(Control<QPushButton>(&window, "Button3"), Qt::LeftButton);
            QVERIFY(WaitFor([&] { return !window.Publishing(); }, 120000));
            const auto asked = std::find_if(recorder.Choices.begin(), recorder.Choices.end(), [&](const auto& box) {
                return box.Answers.front() == step.Answered.toStdString();
            });
            QCOMPARE(asked != recorder.Choices.end(), step.Answer >= 0);
            const QString folder = ftp.SiteFolder() + (step.Destination == plain ? "/plain/" : "/tls/");
            QVERIFY2(QFile::exists(folder + "holiday.html") == step.Sent,
                     recorder.Messages.empty() ? "no message" : recorder.Messages.front().Text.c_str());
            const QList<PublishSites::Site> sites = [] {
                QSettings stored = PublishSites::Settings();
                return PublishSites::Load(stored);
            }();
            const PublishSites::Site* site = PublishSites::Find(sites, step.Destination);
            if (step.Destination == tls && step.Answer == 0) {
                QVERIFY(site && site->PinnedCertificate.startsWith("SHA256:"));
                QVERIFY2(asked->Text.find(site->PinnedCertificate.toStdString()) != std::string::npos,
                         asked->Text.c_str());
            }
        }
    }

    // With a keyring (a Secret Service of the test's own): the single site of
    // earlier settings joins the list; two more are kept, the last used
    // picked; a remembered password comes back with its site, serves the
    // windowless command, and goes with the site when it is forgotten; it
    // never shows in the settings or the command's output.
    void sitesAndTheKeyring()
    {
        QTemporaryDir work;
        FtpServer ftp(work.filePath("ftp"));
        QString error;
        QVERIFY2(ftp.Start(&error), qPrintable(error));
        SecretService secrets(work.filePath("keyring"));
        QVERIFY2(secrets.Start(&error), qPrintable(error));
        const QString old = folder->QPath() + "old";
        {
            QSettings stored = PublishSites::Settings();
            stored.clear();
            stored.setValue("destination", old);
            stored.setValue("publicAddress", "https://old.example/");
        }
        const QString password = ftp.Password();
        const QString remote = ftp.Destination(false, "kept");
        const QString local = folder->QPath() + "second";
        DialogRecorder recorder;
        recorder.OnChoice = [](const Dialogs::ChoiceRequest& request) {
            return request.Answers.front() == "Forget" || request.Answers.front() == "Publish" ? 0 : request.Escape;
        };
        auto publish = [&](TPublishWindow& window, const QString& destination) {
            auto* sites = Control<QComboBox>(&window, "ComboBox1");
            sites->setCurrentIndex(sites->count() - 1);  // "New site"
            QCOMPARE(Control<QLineEdit>(&window, "Edit1")->text(), QString());
            Control<QLineEdit>(&window, "Edit1")->setText(destination);
            if (destination == remote) {
                Control<QLineEdit>(&window, "Edit3")->setText(password);
                QVERIFY(Control<QCheckBox>(&window, "CheckBox1")->isEnabled());
                Control<QCheckBox>(&window, "CheckBox1")->setChecked(true);
            }
            QTest::mouseClick(Control<QPushButton>(&window, "Button3"), Qt::LeftButton);
            QVERIFY(WaitFor([&] { return !window.Publishing(); }, 120000));
        };
        // The command, from a copy of the program in the test's program folder.
        QVERIFY(QFile::copy(OZ_PROGRAM_FOLDER "/ombrix-zudodira", folder->QPath() + "ombrix-zudodira"));
        auto command = [&](int expectedStatus) {
            QProcess run;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("DBUS_SESSION_BUS_ADDRESS", secrets.BusAddress());
            environment.insert("XDG_CONFIG_HOME", folder->QPath() + "settings");
            run.setProcessEnvironment(environment);
            run.setStandardInputFile(QProcess::nullDevice());
            run.start(folder->QPath() + "ombrix-zudodira", {"--publish", remote, "--page", "by-command.html"});
            QVERIFY(run.waitForFinished(180000));
            const QByteArray output = run.readAllStandardOutput() + run.readAllStandardError();
            QVERIFY2(run.exitCode() == expectedStatus, output.constData());
            QVERIFY2(!output.contains(password.toUtf8()) && !output.contains("without encryption"), output.constData());
        };
        {
            TPublishWindow window;
            QCOMPARE(Control<QComboBox>(&window, "ComboBox1")->currentText(), old);
            QCOMPARE(Control<QLineEdit>(&window, "Edit4")->text(), QString("https://old.example/"));
            QVERIFY(!PublishSites::Settings().contains("destination"));
            QCOMPARE(Control<QLabel>(&window, "Label7")->text(), QString());
            publish(window, remote);
            QVERIFY(WaitFor([&] { return Keyring::ReadNow(remote).Password == password; }));
            publish(window, local);
            QVERIFY2(recorder.Messages.empty(), recorder.Messages.empty() ? "" : recorder.Messages[0].Text.c_str());
        }
        command(0);
        QVERIFY(QFile::exists(ftp.SiteFolder() + "/kept/by-command.html"));
        TPublishWindow again;
        auto* sites = Control<QComboBox>(&again, "ComboBox1");
        QCOMPARE(sites->currentText(), local);
        QCOMPARE(sites->count(), 4);  // and "New site"
        sites->setCurrentIndex(sites->findText(remote));
        QVERIFY(WaitFor([&] { return Control<QLineEdit>(&again, "Edit3")->text() == password; }));
        QVERIFY(Control<QCheckBox>(&again, "CheckBox1")->isChecked());
        QTest::mouseClick(Control<QPushButton>(&again, "Button5"), Qt::LeftButton);
        QCOMPARE(sites->count(), 3);
        QCOMPARE(sites->findText(remote), -1);
        QCOMPARE(sites->currentText(), local);
        QVERIFY(WaitFor([&] {
            const Keyring::Answer answer = Keyring::ReadNow(remote);
            return answer.Ok && !answer.Found;
        }));
        command(2);  // no password any more
        for (QDirIterator it(folder->QPath() + "settings", QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString file = it.next();
            QVERIFY2(!ReadFile(file).contains(password.toUtf8()), qPrintable(file));
        }
    }

    void theWindowShowsTheAddressOpensItAndStopsTheServer()
    {
        const QString address = preview->Server->Url("/");
        TPreviewWindow& window = *preview->Window;
        QVERIFY(window.isVisible());
        QCOMPARE(dialogs->OpenedAddresses.size(), size_t(1));
        auto* shown = Control<QLabel>(&window, "Label2");
        QCOMPARE(shown->text(), address);
        QVERIFY(shown->textInteractionFlags() & Qt::TextSelectableByMouse);
        QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        const auto noRuntime = qScopeGuard([] { qunsetenv("XDG_RUNTIME_DIR"); });
        QTest::mouseClick(Control<QPushButton>(&window, "Button1"), Qt::LeftButton);
        QCOMPARE(dialogs->OpenedAddresses.size(), size_t(2));
        checkRedirect(runtime.path());
        QTest::mouseClick(Control<QPushButton>(&window, "Button2"), Qt::LeftButton);
        QVERIFY(!window.isVisible());
        QCOMPARE(ask(port(), page()).Status, QByteArray("refused"));
    }

    void withoutAPageItSaysWhatToDoFirst()
    {
        TempProgramFolder empty;
        DialogRecorder recorder;
        QVERIFY(!StartPreview());
        QCOMPARE(recorder.Texts(),
                 std::vector<std::string>{"There is no player page to preview yet. Convert a clip and press "
                                          "\"Generate Player\" first, then start the preview again."});
        QVERIFY(recorder.OpenedAddresses.empty());
    }
};

OZ_TEST_MAIN(PreviewTest)
#include "tst_preview.moc"
