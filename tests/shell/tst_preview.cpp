// The preview: the program folder's html/ served to the user's browser on
// loopback. Requests are sent as raw bytes, so nothing on the way tidies
// them up before the server sees them.
#include "app/Preview.h"
#include "base/Descriptors.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QPushButton>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <memory>
#include <sys/resource.h>

using namespace TestSupport;

namespace {

// What came back: the status code, "closed" when the server hung up without
// one, or "no answer".
struct Answer {
    QByteArray Status;
    QByteArray Bytes;
};

// A connection straight to the server: asking the system for a proxy starts
// a thread of a library that sanitizer builds cannot follow, and is beside
// the point.
std::unique_ptr<QTcpSocket> connectTo(quint16 port)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->setProxy(QNetworkProxy::NoProxy);
    socket->connectToHost(QHostAddress::LocalHost, port);
    return socket;
}

// Sends request; with untilClosed, waits for the server to hang up after
// its answer as well.
Answer ask(quint16 port, const QByteArray& request, bool untilClosed = false,
           const QHostAddress& to = QHostAddress::LocalHost, const QHostAddress& from = {})
{
    QTcpSocket socket;
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
    return {bytes.mid(9, 3) + (untilClosed && socket.state() == QAbstractSocket::UnconnectedState ? " closed" : ""),
            bytes};
}

// The processor time this process has used, in seconds.
double processorSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for a while, with nothing else to do meanwhile.
void idleFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// The connections open at port's end, as the system counts them: the ones
// the server holds and the ones waiting for it to take them.
int openAt(quint16 port)
{
    QFile table("/proc/self/net/tcp");
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray local = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    int open = 0;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[1].endsWith(local) && fields[3] == "01")
            ++open;
    }
    return open;
}

// Who else is at the server while a row's request is answered.
enum Crowd {
    Nobody,
    ReaderThatNeverReads,    // of a 300 MB clip
    SlowWasmReaders,         // 30 of them
    IdleConnections,         // 1,100 that never send a byte
    IdleHalfSentKeptAlive,  // one of each, which must be closed in time
};

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
    QByteArray get(const QByteArray& target, const QByteArray& method = "GET",
                   const QByteArray& version = "HTTP/1.1", const QByteArray& more = {}) const
    {
        return method + ' ' + target + ' ' + version + "\r\nHost: 127.0.0.1:" + QByteArray::number(port()) +
               "\r\n" + more + "\r\n";
    }
    QByteArray page() const { return get(secret() + "/TempHtml.html"); }

    // Opens the row's crowd: every connection has reached the server, and a
    // reader has started to receive.
    std::vector<std::unique_ptr<QTcpSocket>> gather(Crowd crowd)
    {
        std::vector<std::unique_ptr<QTcpSocket>> peers;
        const int count = crowd == ReaderThatNeverReads    ? 1
                          : crowd == SlowWasmReaders       ? 30
                          : crowd == IdleConnections       ? 1100
                          : crowd == IdleHalfSentKeptAlive ? 3
                                                           : 0;
        // Outlives this call with the peers, whose handlers count on it.
        auto connected = std::make_shared<int>(0);
        for (int i = 0; i < count; ++i) {
            peers.push_back(connectTo(port()));
            QTcpSocket* peer = peers.back().get();
            // A reader takes only this much off the line, so the rest backs up into the server.
            peer->setReadBufferSize(16 * 1024);
            connect(peer, &QTcpSocket::connected, peer, [connected, peer, crowd, i, this] {
                ++*connected;
                if (crowd == ReaderThatNeverReads)
                    peer->write(get(secret() + "/flvs/big.flv"));
                else if (crowd == SlowWasmReaders)
                    peer->write(get(secret() + "/ruffle/big.wasm"));
                else if (crowd == IdleHalfSentKeptAlive && i > 0)
                    peer->write(i == 1 ? page().chopped(2) : page());
            });
            if (i % 50 == 49)
                QCoreApplication::processEvents();
        }
        const bool readers = crowd == ReaderThatNeverReads || crowd == SlowWasmReaders;
        const bool ready = WaitFor(
            [&] {
                return *connected == count &&
                       (!readers || std::all_of(peers.begin(), peers.end(),
                                                [](const auto& peer) { return peer->bytesAvailable() > 0; }));
            },
            60000);
        if (!ready)
            qWarning("only %d of %d connections made it", *connected, count);
        return peers;
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
        QVERIFY(QDir().mkpath(folder->QPath() + "html/sub.flv"));
        QVERIFY(QFile::link("/etc/passwd", folder->QPath() + "html/flvs/passwd.flv"));
        QVERIFY(QFile::link("../../secret.html", folder->QPath() + "html/flvs/secret.html"));
        // Large and sparse, so they cost the disk nothing.
        QVERIFY(QDir().mkpath(folder->QPath() + "html/ruffle"));
        for (const auto& [name, size] : {std::pair{"html/flvs/big.flv", 300'000'000}, {"html/ruffle/big.wasm", 14'000'000}}) {
            QFile file(folder->QPath() + name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
        }
        // Room for the crowd's descriptors beside the server's, in this one process.
        Platform::RaiseDescriptorLimit();
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
        QTest::addColumn<int>("crowd");
        const QByteArray outside = QFile::encodeName(folder->QPath() + "secret.html");
        const QByteArray at = secret();
        QByteArray guess = at;
        guess[guess.size() - 1] = guess.endsWith('0') ? '1' : '0';
        const QByteArray ourPort = ':' + QByteArray::number(port());
        QTest::newRow("the page") << page() << QByteArray("200") << int(Nobody);
        QTest::newRow("HEAD of the page") << get(at + "/TempHtml.html", "HEAD") << QByteArray("200") << int(Nobody);
        QTest::newRow("/../") << get(at + "/../secret.html") << QByteArray("404") << int(Nobody);
        QTest::newRow("/flvs/../../") << get(at + "/flvs/../../secret.html") << QByteArray("404") << int(Nobody);
        QTest::newRow("%2e%2e/") << get(at + "/%2e%2e/secret.html") << QByteArray("404") << int(Nobody);
        QTest::newRow("..%2f") << get(at + "/..%2fsecret.html") << QByteArray("404") << int(Nobody);
        QTest::newRow("%2E%2E%2F upper case") << get(at + "/%2E%2E%2Fsecret.html") << QByteArray("404") << int(Nobody);
        QTest::newRow("..\\") << get(at + "/..\\secret.html") << QByteArray("404") << int(Nobody);
        QTest::newRow("absolute path") << get(at + outside) << QByteArray("404") << int(Nobody);
        QTest::newRow("//absolute path") << get(at + "/" + outside) << QByteArray("404") << int(Nobody);
        QTest::newRow("absolute-form address")
            << get("http://127.0.0.1" + ourPort + at + "/../secret.html") << QByteArray("404") << int(Nobody);
        QTest::newRow("symlink to /etc/passwd") << get(at + "/flvs/passwd.flv") << QByteArray("404") << int(Nobody);
        QTest::newRow("symlink out of html/") << get(at + "/flvs/secret.html") << QByteArray("404") << int(Nobody);
        QTest::newRow("a folder") << get(at + "/flvs/") << QByteArray("404") << int(Nobody);
        QTest::newRow("a folder named like a clip") << get(at + "/sub.flv") << QByteArray("404") << int(Nobody);
        QTest::newRow("a file of another kind") << get(at + "/notes.txt") << QByteArray("404") << int(Nobody);
        QTest::newRow("NUL") << get(at + "/TempHtml.html%00.flv") << QByteArray("404") << int(Nobody);
        // Only the owner, who has the address, and only by the server's own name.
        QTest::newRow("no secret") << get("/TempHtml.html") << QByteArray("404") << int(Nobody);
        QTest::newRow("a wrong secret") << get(guess + "/TempHtml.html") << QByteArray("404") << int(Nobody);
        QTest::newRow("the secret alone") << get(at) << QByteArray("404") << int(Nobody);
        QTest::newRow("a foreign Host")
            << "GET " + at + "/TempHtml.html HTTP/1.1\r\nHost: rebound.example" + ourPort + "\r\n\r\n"
            << QByteArray("400 closed") << int(Nobody);
        QTest::newRow("Host localhost")
            << "GET " + at + "/TempHtml.html HTTP/1.1\r\nHost: localhost" + ourPort + "\r\n\r\n"
            << QByteArray("200") << int(Nobody);
        QTest::newRow("HTTP/1.0") << get(at + "/TempHtml.html", "GET", "HTTP/1.0", "Connection: keep-alive\r\n")
                                  << QByteArray("200 closed") << int(Nobody);
        QTest::newRow("Connection: close") << get(at + "/TempHtml.html", "GET", "HTTP/1.1", "Connection: close\r\n")
                                           << QByteArray("200 closed") << int(Nobody);
        QTest::newRow("POST")
            << "POST " + at + "/TempHtml.html HTTP/1.1\r\nHost: 127.0.0.1" + ourPort +
                   "\r\nContent-Length: 3\r\n\r\na=b"
            << QByteArray("405") << int(Nobody);
        QTest::newRow("PUT") << get(at + "/TempHtml.html", "PUT") << QByteArray("405") << int(Nobody);
        QTest::newRow("1 MB header") << "GET " + at + "/TempHtml.html HTTP/1.1\r\nX-Big: " + QByteArray(1 << 20, 'a') +
                                            "\r\n\r\n"
                                     << QByteArray("closed") << int(Nobody);
        QTest::newRow("1 MB request line")
            << get(at + "/" + QByteArray(1 << 20, 'a') + ".html") << QByteArray("closed") << int(Nobody);
        QTest::newRow("16 MB body") << "POST / HTTP/1.1\r\nContent-Length: 16000000\r\n\r\n" +
                                           QByteArray(16000000, 'a')
                                    << QByteArray("closed") << int(Nobody);
        // What the server holds follows the connection, not the file.
        QTest::newRow("a reader that never reads a 300 MB clip") << page() << QByteArray("200")
                                                                 << int(ReaderThatNeverReads);
        QTest::newRow("30 slow readers of the wasm") << page() << QByteArray("200") << int(SlowWasmReaders);
        // It stays up with a crowd at the door, and closes who lingers.
        QTest::newRow("1,100 idle connections") << page() << QByteArray("200") << int(IdleConnections);
        QTest::newRow("idle, half-sent and kept-alive connections closed in time")
            << page() << QByteArray("200") << int(IdleHalfSentKeptAlive);
    }
    void hostileRequests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        QFETCH(int, crowd);
        rlimit descriptors{};
        if (crowd == IdleConnections && (getrlimit(RLIMIT_NOFILE, &descriptors) != 0 || descriptors.rlim_cur < 1300))
            QSKIP("this process may not open enough descriptors for the crowd");
        const long before = CurrentResources().ResidentKiB;
        const auto peers = gather(Crowd(crowd));
        QElapsedTimer clock;
        clock.start();
        const Answer answer = ask(port(), request, expected.endsWith("closed") && expected != "closed");
        const qint64 took = clock.elapsed();
        qInfo("%s -> %s in %lld ms", QTest::currentDataTag(), answer.Status.constData(), took);
        QCOMPARE(answer.Status, expected);
        QVERIFY(!answer.Bytes.contains("SECRET") && !answer.Bytes.contains("root:"));
        if (!answer.Status.startsWith("200"))
            QVERIFY2(!answer.Bytes.contains("<body>"), "a refusal carried the page");
        if (crowd == SlowWasmReaders || crowd == ReaderThatNeverReads) {
            // The readers take a trickle while the server would fill up on what they leave.
            for (int turn = 0; turn < 20; ++turn) {
                idleFor(50);
                for (const auto& peer : peers)
                    peer->read(256);
            }
        }
        if (!SanitizerBuild)
            QVERIFY2(CurrentResources().ResidentKiB - before < (crowd == Nobody ? 8 : 32) * 1024,
                     "the server kept what it was sent or is sending");
        if (crowd == IdleConnections) {
            QVERIFY2(took < (SanitizerBuild ? 20000 : 2000), "the crowd held up the answer");
            const int open = openAt(port());
            qInfo("the server holds %d connections", open);
            QVERIFY(open >= 0 && open <= HtmlServer::MaxConnections);
            const double start = processorSeconds();
            QElapsedTimer window;
            window.start();
            idleFor(2000);
            const double share = (processorSeconds() - start) / (double(window.elapsed()) / 1000);
            qInfo("%.1f %% of a core beside the crowd", share * 100);
            QVERIFY2(share < 0.2, "the server is busy while nobody asks anything");
        }
        if (crowd == IdleHalfSentKeptAlive) {
            const qint64 limit = std::chrono::milliseconds(HtmlServer::IdleLimit).count();
            QVERIFY2(WaitFor(
                         [&] {
                             return std::all_of(peers.begin(), peers.end(), [](const auto& peer) {
                                 return peer->state() == QAbstractSocket::UnconnectedState;
                             });
                         },
                         limit + 30000),
                     "a lingering connection stayed open");
        }
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
