#include "browser/LoopbackFileServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpSocket>
#include <QUrl>

namespace {

QByteArray contentType(const QString& path)
{
    static const QList<QPair<QString, QByteArray>> types = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript"},
        {".wasm", "application/wasm"},
        {".swf", "application/x-shockwave-flash"},
        {".flv", "video/x-flv"},
        {".map", "application/json"},
        {".png", "image/png"},
    };
    for (const auto& [suffix, type] : types) {
        if (path.endsWith(suffix))
            return type;
    }
    return "application/octet-stream";
}

}  // namespace

LoopbackFileServer::LoopbackFileServer(const QString& rootFolder, QObject* parent) : QObject(parent)
{
    mounts.push_back({"/", rootFolder});
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                // Requests are small: answer once the whole head is in.
                if (socket->property("answered").toBool())
                    return;
                const QByteArray head = socket->peek(socket->bytesAvailable());
                if (!head.contains("\r\n\r\n"))
                    return;
                socket->setProperty("answered", true);
                answer(socket, socket->readAll());
            });
        }
    });
}

void LoopbackFileServer::Mount(const QString& prefix, const QString& folder)
{
    // Longest prefixes first, so a mount wins over the root.
    mounts.push_front({prefix, folder});
}

bool LoopbackFileServer::Start()
{
    return server.listen(QHostAddress::LocalHost, 0);
}

QString LoopbackFileServer::Url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(Port()).arg(path);
}

QString LoopbackFileServer::fileFor(const QString& path) const
{
    const QStringList parts = path.split('/');
    if (parts.contains("..") || parts.contains("."))
        return {};
    for (const Mounted& mount : mounts) {
        if (path.startsWith(mount.prefix)) {
            const QString file = QDir(mount.folder).filePath(path.mid(mount.prefix.size()));
            return QFileInfo(file).isFile() ? file : QString();
        }
    }
    return {};
}

void LoopbackFileServer::answer(QTcpSocket* socket, const QByteArray& requestHead)
{
    const QList<QByteArray> requestLine = requestHead.left(requestHead.indexOf("\r\n")).split(' ');
    QByteArray status = "404 Not Found";
    QByteArray body;
    QByteArray type = "text/plain";
    QString path;
    if (requestLine.size() == 3 && requestLine[0] == "GET") {
        QByteArray target = requestLine[1];
        target = target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?'));
        path = QUrl::fromPercentEncoding(target);
        QFile file(fileFor(path));
        if (!file.fileName().isEmpty() && file.open(QIODevice::ReadOnly)) {
            status = "200 OK";
            body = file.readAll();
            type = contentType(path);
        }
    } else {
        status = "405 Method Not Allowed";
    }
    requests << QString::fromLatin1(status.left(3)) + ' ' + path;
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: " + type +
                  "\r\nContent-Length: " + QByteArray::number(body.size()) +
                  "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n");
    socket->write(body);
    socket->disconnectFromHost();
}
