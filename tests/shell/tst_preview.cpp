// The preview: the program folder's html/ served to the user's browser on
// loopback. Requests are sent as raw bytes, so nothing on the way tidies
// them up before the server sees them.
#include "app/Preview.h"
#include "support/TestSupport.h"

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
