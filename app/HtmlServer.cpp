#include "app/HtmlServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>

namespace {

// A request head is a few hundred bytes; a peer that sends this much without
// getting an answer is cut off, so it cannot make the server hold its bytes.
constexpr qint64 MaxUnansweredBytes = 64 * 1024;
// A file goes out in pieces of this size, the next one only once what the
// socket still holds has drained below the backlog bound.
constexpr qint64 Piece = 64 * 1024;
constexpr qint64 Backlog = 128 * 1024;
// When the process has no descriptor left to accept with, it waits this
// long, or until a connection closes, before it tries again.
constexpr int AcceptPauseMs = 250;

QByteArray reasonOf(int status)
{
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        default:
            return "Error";
    }
}

// Equal without telling a guesser, by the time taken, how much was right.
bool sameSecret(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

}  // namespace

RequestHead ParseRequestHead(const QByteArray& head)
{
    RequestHead request;
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    const QList<QByteArray> first = lines.value(0).split(' ');
    if (first.size() != 3 || first[0].isEmpty() || first[1].isEmpty())
        return request;
    request.Method = first[0];
    request.Target = first[1];
    if (first[2] == "HTTP/1.1")
        request.KeepAlive = true;
    else if (first[2] != "HTTP/1.0")
        return request;
    bool hasHost = false, hasLength = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon <= 0)
            return request;
        const QByteArray name = lines[i].left(colon).toLower();
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        if (name.contains(' ') || name.contains('\t'))
            return request;
        if (name == "host") {
            // Two of them could name two servers.
            if (std::exchange(hasHost, true))
                return request;
            request.Host = value;
        } else if (name == "content-length") {
            bool number = !value.isEmpty() && std::all_of(value.begin(), value.end(),
                                                          [](char c) { return c >= '0' && c <= '9'; });
            const qint64 length = value.toLongLong(&number);
            if (!number || std::exchange(hasLength, true))
                return request;
            request.BodyLength = length;
        } else if (name == "transfer-encoding") {
            // A body of unknown length is never taken.
            return request;
        } else if (name == "connection") {
            for (const QByteArray& option : value.split(',')) {
                if (option.trimmed().toLower() == "close")
                    request.KeepAlive = false;
            }
        }
    }
    request.Valid = true;
    return request;
}

QByteArray ServedContentType(const QString& path)
{
    static const QList<QPair<QString, QByteArray>> types = {
        {".html", "text/html; charset=utf-8"},     {".js", "text/javascript"}, {".wasm", "application/wasm"},
        {".swf", "application/x-shockwave-flash"}, {".flv", "video/x-flv"},
    };
    for (const auto& [suffix, type] : types) {
        if (path.endsWith(suffix, Qt::CaseInsensitive))
            return type;
    }
    return {};
}

QString ServedFile(const QString& folder, const QByteArray& encodedPath)
{
    if (!encodedPath.startsWith('/'))
        return {};
    // Decoded once, as the file name it names; a "%2e%2e" is a ".." here,
    // while a "%252e" stays the literal name "%2e".
    const QString path = QString::fromUtf8(QByteArray::fromPercentEncoding(encodedPath));
    if (path.contains(QChar(0)) || ServedContentType(path).isEmpty())
        return {};
    const QStringList pieces = path.split('/', Qt::SkipEmptyParts);
    if (pieces.contains("..") || pieces.contains(".") || pieces.isEmpty())
        return {};
    const QString root = QFileInfo(folder).canonicalFilePath();
    if (root.isEmpty())
        return {};
    // Symbolic links resolved: the real file must still lie inside.
    const QString real = QFileInfo(root + '/' + pieces.join('/')).canonicalFilePath();
    if (real.isEmpty() || !real.startsWith(root + '/'))
        return {};
    const QFileInfo file(real);
    return file.isFile() && file.isReadable() ? real : QString();
}

// One peer: what it sent that is not yet answered, and the file it is taking.
struct HtmlServer::Connection {
    QTcpSocket* Socket = nullptr;  // deleted later, once dropped
    QTimer* Deadline = nullptr;    // a child of Socket
    QByteArray Inbox;
    std::unique_ptr<QFile> File;
    qint64 Remaining = 0;  // of the file, still to send
    bool CloseAfter = false;
    QElapsedTimer IdleSince;  // valid while no answer is under way
};

struct HtmlServer::Answer {
    int Status = 404;
    QByteArray Type = "text/plain";
    QByteArray Body = "Not Found\n";
    std::unique_ptr<QFile> File;
    bool CloseAfter = false;
    bool Landing = false;  // the landing page, asked for with the secret
};

HtmlServer::HtmlServer(const QString& folder, QObject* parent) : QObject(parent)
{
    mounts.push_back({"/", folder});
    // 128 bits from the system's random source, anew at each start.
    for (int i = 0; i < 4; ++i)
        secret += QByteArray::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, '0');
    resumeAccepting.setSingleShot(true);
    connect(&resumeAccepting, &QTimer::timeout, this, [this] {
        if (listener && listener->isListening())
            listener->resumeAccepting();
    });
}

HtmlServer::~HtmlServer()
{
    Stop();
}

void HtmlServer::Mount(const QString& prefix, const QString& folder)
{
    // Before the root, so that the mount wins.
    mounts.push_front({prefix, folder});
}

void HtmlServer::AddPage(const QString& path, const QByteArray& html)
{
    pages.insert(path, html);
}

bool HtmlServer::Start()
{
    auto* server = new QTcpServer(this);
    if (!server->listen(QHostAddress::LocalHost, 0)) {
        delete server;
        return false;
    }
    listener = server;
    port = server->serverPort();
    connect(server, &QTcpServer::newConnection, this, &HtmlServer::acceptAll);
    connect(server, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::SocketResourceError)
            descriptorsRanOut();
    });
    return true;
}

void HtmlServer::Stop()
{
    resumeAccepting.stop();
    if (listener)
        listener->close();
    while (!connections.empty())
        drop(connections.front());
}

QString HtmlServer::Url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1/%2%3").arg(port).arg(QString::fromLatin1(secret), path);
}

void HtmlServer::acceptAll()
{
    while (QTcpSocket* socket = listener->nextPendingConnection()) {
        if (int(connections.size()) >= MaxConnections && !dropIdlest()) {
            // Every place holds an answer under way: the newcomer waits its turn elsewhere.
            socket->abort();
            socket->deleteLater();
            continue;
        }
        Connection& connection = connections.emplace_back();
        connection.Socket = socket;
        connection.Deadline = new QTimer(socket);
        connection.Deadline->setSingleShot(true);
        Connection* c = &connection;
        connect(socket, &QTcpSocket::readyRead, this, [this, c] { received(*c); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, c] {
            if (c->File) {
                c->Deadline->start(IdleLimit);
                if (!sendMore(*c))
                    return;
            }
            if (!c->File)
                answerWaiting(*c);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, c] { drop(*c); });
        connect(c->Deadline, &QTimer::timeout, this, [this, c] { drop(*c); });
        becomeIdle(connection);
        if (socket->bytesAvailable() > 0)
            received(connection);
    }
}

void HtmlServer::descriptorsRanOut()
{
    // Accepting again at once would fail again at once: make room by closing
    // the connection idle longest, and pause a moment unless one closes.
    listener->pauseAccepting();
    resumeAccepting.start(AcceptPauseMs);
    dropIdlest();
}

void HtmlServer::received(Connection& connection)
{
    connection.Inbox += connection.Socket->readAll();
    if (connection.Inbox.size() > MaxUnansweredBytes)
        return drop(connection);
    if (!connection.File)
        answerWaiting(connection);
}

void HtmlServer::answerWaiting(Connection& connection)
{
    // Requests sent ahead are answered in turn, each once the one before has
    // gone out whole and the peer has taken most of it: one that sends and
    // never reads cannot pile answers up here.
    while (!connection.File && !connection.CloseAfter && connection.Socket->bytesToWrite() < Backlog) {
        QByteArray& inbox = connection.Inbox;
        while (inbox.startsWith("\r\n") || inbox.startsWith('\n'))
            inbox.remove(0, inbox.startsWith('\n') ? 1 : 2);
        qsizetype end = inbox.indexOf("\r\n\r\n");
        qsizetype after = end + 4;
        if (const qsizetype bare = inbox.indexOf("\n\n"); bare >= 0 && (end < 0 || bare < end)) {
            end = bare;
            after = bare + 2;
        }
        if (end < 0)
            return;
        const RequestHead request = ParseRequestHead(inbox.left(end));
        if (request.Valid && request.BodyLength > MaxUnansweredBytes)
            return drop(connection);
        if (request.Valid && inbox.size() - after < request.BodyLength)
            return;  // the body is still on its way; it is read and thrown away
        inbox.remove(0, request.Valid ? after + request.BodyLength : inbox.size());

        Answer answer = answerTo(request, connection);
        if (answer.Landing)
            emit LandingPageAsked();
        const bool head = request.Method == "HEAD";
        const qint64 length = answer.File ? answer.File->size() : answer.Body.size();
        connection.CloseAfter = answer.CloseAfter || !request.KeepAlive;
        QByteArray text = "HTTP/1.1 " + QByteArray::number(answer.Status) + ' ' + reasonOf(answer.Status) +
                          "\r\nContent-Type: " + answer.Type +
                          "\r\nContent-Length: " + QByteArray::number(length) +
                          "\r\nCache-Control: no-store\r\nReferrer-Policy: no-referrer"
                          "\r\nX-Content-Type-Options: nosniff\r\n";
        if (answer.Status == 405)
            text += "Allow: GET, HEAD\r\n";
        text += connection.CloseAfter ? "Connection: close\r\n\r\n" : "\r\n";
        if (!head)
            text += answer.Body;
        connection.Socket->write(text);
        if (answer.File && !head) {
            connection.File = std::move(answer.File);
            connection.Remaining = length;
            connection.IdleSince.invalidate();
            connection.Deadline->start(IdleLimit);
            if (!sendMore(connection))
                return;
        } else {
            becomeIdle(connection);
        }
    }
    if (connection.CloseAfter && !connection.File)
        connection.Socket->disconnectFromHost();
}

HtmlServer::Answer HtmlServer::answerTo(const RequestHead& request, const Connection& connection) const
{
    Answer answer;
    if (!request.Valid || !hostIsOurs(request.Host)) {
        // Nothing of the folder for a page whose name merely leads here.
        answer.Status = 400;
        answer.Body = "Bad Request\n";
        answer.CloseAfter = true;
        return answer;
    }
    if (request.Method != "GET" && request.Method != "HEAD") {
        answer.Status = 405;
        answer.Body = "Method Not Allowed\n";
        return answer;
    }
    // "/SECRET/..." and the rest, without the query.
    const qsizetype query = request.Target.indexOf('?');
    const QByteArray target = query < 0 ? request.Target : request.Target.first(query);
    const bool secretFirst = target.startsWith('/') && target.size() > secret.size() + 1 &&
                             sameSecret(target.mid(1, secret.size()), secret) &&
                             target[secret.size() + 1] == '/';
    if (!secretFirst || !connection.Socket->peerAddress().isLoopback())
        return answer;
    const QByteArray path = target.mid(secret.size() + 1);
    // Only the first page, where the private page leads: a tab still open
    // from before, fetching a clip, is no sign that a new browser came.
    answer.Landing = path == "/";
    if (pages.contains(QString::fromUtf8(path))) {
        answer.Status = 200;
        answer.Type = "text/html; charset=utf-8";
        answer.Body = pages.value(QString::fromUtf8(path));
    } else if (const QString name = fileFor(path); !name.isEmpty()) {
        auto file = std::make_unique<QFile>(name);
        if (file->open(QIODevice::ReadOnly)) {
            answer.Status = 200;
            answer.Type = ServedContentType(name);
            answer.Body.clear();
            answer.File = std::move(file);
        }
    }
    return answer;
}

bool HtmlServer::sendMore(Connection& connection)
{
    QTcpSocket& socket = *connection.Socket;
    while (connection.Remaining > 0 && socket.bytesToWrite() < Backlog) {
        const QByteArray piece = connection.File->read(std::min(Piece, connection.Remaining));
        if (piece.isEmpty()) {
            drop(connection);  // the file shrank or cannot be read: the answer cannot be whole
            return false;
        }
        socket.write(piece);
        connection.Remaining -= piece.size();
    }
    if (connection.Remaining == 0) {
        connection.File.reset();
        becomeIdle(connection);
    }
    return true;
}

void HtmlServer::becomeIdle(Connection& connection)
{
    connection.IdleSince.start();
    connection.Deadline->start(IdleLimit);
}

bool HtmlServer::dropIdlest()
{
    Connection* idlest = nullptr;
    for (Connection& connection : connections) {
        if (!connection.File && (!idlest || connection.IdleSince.elapsed() > idlest->IdleSince.elapsed()))
            idlest = &connection;
    }
    if (idlest)
        drop(*idlest);
    return idlest != nullptr;
}

void HtmlServer::drop(Connection& connection)
{
    QTcpSocket* socket = connection.Socket;
    // Nothing of this connection runs again: it may be dropped from inside
    // one of its own handlers.
    socket->disconnect(this);
    connection.Deadline->disconnect(this);
    connection.Deadline->stop();
    socket->abort();
    socket->deleteLater();
    connections.remove_if([&](const Connection& c) { return &c == &connection; });
    // A descriptor is free again.
    if (resumeAccepting.isActive()) {
        resumeAccepting.stop();
        if (listener->isListening())
            listener->resumeAccepting();
    }
}

QString HtmlServer::fileFor(const QByteArray& encodedPath) const
{
    for (const Mounted& mount : mounts) {
        if (encodedPath.startsWith(mount.prefix.toUtf8()))
            return ServedFile(mount.folder, encodedPath.mid(mount.prefix.size() - 1));
    }
    return {};
}

bool HtmlServer::hostIsOurs(const QByteArray& host) const
{
    const QByteArray suffix = ':' + QByteArray::number(port);
    const QByteArray lower = host.toLower();
    return lower == "127.0.0.1" + suffix || lower == "localhost" + suffix;
}
