#include "app/HtmlServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

namespace {

// A request head is a few hundred bytes; a peer that sends this much without
// getting an answer is cut off, so it cannot make the server hold its bytes.
constexpr qint64 MaxUnansweredBytes = 64 * 1024;

// Counts what each connection sends between two answers and drops it when
// the count passes the limit. It sees every chunk before the HTTP layer,
// whose slot is connected after this one.
class GuardedTcpServer : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

    QTcpSocket* nextPendingConnection() override
    {
        QTcpSocket* socket = QTcpServer::nextPendingConnection();
        if (!socket)
            return nullptr;
        // Shared by the two handlers, gone with their connections.
        auto unanswered = std::make_shared<qint64>(0);
        connect(socket, &QTcpSocket::bytesWritten, socket, [unanswered] { *unanswered = 0; });
        connect(socket, &QTcpSocket::readyRead, socket, [socket, unanswered] {
            if (*unanswered > MaxUnansweredBytes)
                return (void)socket->readAll();  // dropped, the line is being cut
            *unanswered += socket->bytesAvailable();
            if (*unanswered > MaxUnansweredBytes) {
                // Cut once the HTTP layer's slot for this chunk has run;
                // until then what comes is thrown away unread.
                socket->readAll();
                QMetaObject::invokeMethod(socket, &QTcpSocket::abort, Qt::QueuedConnection);
            }
        });
        return socket;
    }
};

}  // namespace

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

HtmlServer::HtmlServer(const QString& folder, QObject* parent) : QAbstractHttpServer(parent)
{
    mounts.push_back({"/", folder});
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
    auto* server = new GuardedTcpServer(this);
    if (!server->listen(QHostAddress::LocalHost, 0)) {
        delete server;
        return false;
    }
    port = server->serverPort();
    bind(server);
    return true;
}

QString HtmlServer::Url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
}

QString HtmlServer::fileFor(const QByteArray& encodedPath) const
{
    for (const Mounted& mount : mounts) {
        if (encodedPath.startsWith(mount.prefix.toUtf8()))
            return ServedFile(mount.folder, encodedPath.mid(mount.prefix.size() - 1));
    }
    return {};
}

bool HtmlServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    using Status = QHttpServerResponder::StatusCode;
    QHttpServerResponder responder = makeResponder(request, socket);
    const auto method = request.method();
    if (method != QHttpServerRequest::Method::Get && method != QHttpServerRequest::Method::Head) {
        responder.write(QByteArray("Method Not Allowed\n"),
                        {{"Content-Type", "text/plain"}, {"Allow", "GET, HEAD"}}, Status::MethodNotAllowed);
        return true;
    }
    const QByteArray path = request.url().path(QUrl::FullyEncoded).toUtf8();
    const bool loopback = request.remoteAddress().isLoopback();
    QByteArray type;
    QByteArray page;
    std::unique_ptr<QFile> file;
    if (loopback && pages.contains(QString::fromUtf8(path))) {
        type = "text/html; charset=utf-8";
        page = pages.value(QString::fromUtf8(path));
    } else if (const QString name = loopback ? fileFor(path) : QString(); !name.isEmpty()) {
        file = std::make_unique<QFile>(name);
        if (file->open(QIODevice::ReadOnly))
            type = ServedContentType(name);
    }
    if (type.isEmpty()) {
        responder.write(QByteArray("Not Found\n"), {{"Content-Type", "text/plain"}}, Status::NotFound);
        return true;
    }
    const qint64 size = file ? file->size() : page.size();
    if (method == QHttpServerRequest::Method::Head) {
        responder.writeStatusLine(Status::Ok);
        responder.writeHeaders({{"Content-Type", type},
                                {"Content-Length", QByteArray::number(size)},
                                {"Cache-Control", "no-store"}});
        responder.writeBody(QByteArray());
    } else if (file) {
        responder.write(file.release(), {{"Content-Type", type}, {"Cache-Control", "no-store"}});
    } else {
        responder.write(page, {{"Content-Type", type}, {"Cache-Control", "no-store"}});
    }
    return true;
}

void HtmlServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}
