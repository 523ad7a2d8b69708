// The preview: the program folder's html/ served to the user's browser on
// loopback. Requests are sent as raw bytes, so nothing on the way tidies
// them up before the server sees them.
#include "app/Preview.h"
#include "app/PublishWindow.h"
#include "support/SiteServers.h"
#include "support/TestSupport.h"

#include <QClipboard>
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
#include <QPushButton>
#include <QTcpSocket>

using namespace TestSupport;

namespace {

// What came back: the status code, "closed" when the server hung up without
// one, or "no answer".
struct Answer {
    QByteArray Status;
    QByteArray Bytes;
};

Answer ask(quint16 port, const QByteArray& request, const QHostAddress& to = QHostAddress::LocalHost,
           const QHostAddress& from = {})
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
            return bytes.contains("\r\n\r\n") || socket.state() == QAbstractSocket::UnconnectedState;
        },
        30000);
    bytes += socket.readAll();
    if (bytes.isEmpty())
        return {socket.state() == QAbstractSocket::UnconnectedState ? "closed" : "no answer", {}};
    return {bytes.mid(9, 3), bytes};
}

// A site page for the clip, as "Generate Player" writes it.
QByteArray sitePage(const QByteArray& clip)
{
    return "<html> <body>\r\n<script src=\"ruffle/ruffle.js\"></script>\r\n"
           "<object><param name=\"movie\" value=\"flv_player_320x240.swf\"><embed src=\"flv_player_320x240.swf?"
           "file=flvs\\" + clip + ".flv&clipLength=10\"></object>\r\n</body> </html>\r\n";
}

QByteArray get(const QByteArray& target, const QByteArray& method = "GET")
{
    return method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

}  // namespace

class PreviewTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempProgramFolder> folder;
    std::unique_ptr<DialogRecorder> dialogs;
    std::unique_ptr<Preview> preview;

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
        writeFile("html/SitePage.html", sitePage("holiday"));
        writeFile("html/flv_player_320x240.swf", "FWS movie");
        writeFile("html/flvs/holiday.flv", QByteArray(8 << 20, 'v'));
        QVERIFY(QDir().mkpath(folder->QPath() + "html/ruffle"));
        writeFile("html/ruffle/ruffle.js", "// ruffle");
        QVERIFY(QDir().mkpath(folder->QPath() + "html/sub.flv"));
        QVERIFY(QFile::link("/etc/passwd", folder->QPath() + "html/flvs/passwd.flv"));
        QVERIFY(QFile::link("../../secret.html", folder->QPath() + "html/flvs/secret.html"));
        preview = StartPreview();
        QVERIFY(preview);
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
        const QByteArray secret = QFile::encodeName(folder->QPath() + "secret.html");
        QTest::newRow("the page") << get("/TempHtml.html") << QByteArray("200");
        QTest::newRow("HEAD of the page") << get("/TempHtml.html", "HEAD") << QByteArray("200");
        QTest::newRow("/../") << get("/../secret.html") << QByteArray("404");
        QTest::newRow("/flvs/../../") << get("/flvs/../../secret.html") << QByteArray("404");
        QTest::newRow("%2e%2e/") << get("/%2e%2e/secret.html") << QByteArray("404");
        QTest::newRow("..%2f") << get("/..%2fsecret.html") << QByteArray("404");
        QTest::newRow("%2E%2E%2F upper case") << get("/%2E%2E%2Fsecret.html") << QByteArray("404");
        QTest::newRow("..\\") << get("/..\\secret.html") << QByteArray("404");
        QTest::newRow("absolute path") << get(secret) << QByteArray("404");
        QTest::newRow("//absolute path") << get("/" + secret) << QByteArray("404");
        QTest::newRow("absolute-form address") << get("http://127.0.0.1/../secret.html") << QByteArray("404");
        QTest::newRow("symlink to /etc/passwd") << get("/flvs/passwd.flv") << QByteArray("404");
        QTest::newRow("symlink out of html/") << get("/flvs/secret.html") << QByteArray("404");
        QTest::newRow("a folder") << get("/flvs/") << QByteArray("404");
        QTest::newRow("a folder named like a clip") << get("/sub.flv") << QByteArray("404");
        QTest::newRow("a file of another kind") << get("/notes.txt") << QByteArray("404");
        QTest::newRow("NUL") << get("/TempHtml.html%00.flv") << QByteArray("404");
        QTest::newRow("POST")
            << QByteArray("POST /TempHtml.html HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\na=b")
            << QByteArray("405");
        QTest::newRow("PUT") << get("/TempHtml.html", "PUT") << QByteArray("405");
        QTest::newRow("1 MB header") << "GET /TempHtml.html HTTP/1.1\r\nX-Big: " + QByteArray(1 << 20, 'a') +
                                            "\r\n\r\n"
                                     << QByteArray("closed");
        QTest::newRow("1 MB request line")
            << get("/" + QByteArray(1 << 20, 'a') + ".html") << QByteArray("closed");
        QTest::newRow("16 MB body") << "POST / HTTP/1.1\r\nContent-Length: 16000000\r\n\r\n" +
                                           QByteArray(16000000, 'a')
                                    << QByteArray("closed");
    }
    void hostileRequests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        const long before = CurrentResources().ResidentKiB;
        const Answer answer = ask(preview->Server->Port(), request);
        qInfo("%s -> %s", QTest::currentDataTag(), answer.Status.constData());
        QCOMPARE(answer.Status, expected);
        QVERIFY(!answer.Bytes.contains("SECRET") && !answer.Bytes.contains("root:"));
        if (!SanitizerBuild)
            QVERIFY2(CurrentResources().ResidentKiB - before < 8 * 1024, "the server kept what it was sent");
        QCOMPARE(ask(preview->Server->Port(), get("/TempHtml.html")).Status, QByteArray("200"));
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
            const quint16 port = preview->Server->Port();
            const Answer to = ask(port, get("/TempHtml.html"), address);
            const Answer from = ask(port, get("/TempHtml.html"), QHostAddress::LocalHost, address);
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
        Control<QLineEdit>(window, "Edit1")->setText(site);
        Control<QLineEdit>(window, "Edit2")->setText("/home/me/.ssh/id_test");
        Control<QRadioButton>(window, "RadioButton3")->setChecked(true);
        Control<QLineEdit>(window, "Edit3")->setText(password);
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
        QCOMPARE(files, (QStringList{"flv_player_320x240.swf", "flvs/holiday.flv", "mine.html", "ruffle/ruffle.js"}));
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

    void theWindowShowsTheAddressOpensItAndStopsTheServer()
    {
        const QString address = preview->Server->Url("/");
        TPreviewWindow& window = *preview->Window;
        QVERIFY(window.isVisible());
        QCOMPARE(dialogs->OpenedAddresses, std::vector<std::string>{address.toStdString()});
        auto* shown = Control<QLabel>(&window, "Label2");
        QCOMPARE(shown->text(), address);
        QVERIFY(shown->textInteractionFlags() & Qt::TextSelectableByMouse);
        QTest::mouseClick(Control<QPushButton>(&window, "Button1"), Qt::LeftButton);
        QCOMPARE(dialogs->OpenedAddresses.size(), size_t(2));
        QTest::mouseClick(Control<QPushButton>(&window, "Button2"), Qt::LeftButton);
        QVERIFY(!window.isVisible());
        QCOMPARE(ask(preview->Server->Port(), get("/TempHtml.html")).Status, QByteArray("refused"));
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
