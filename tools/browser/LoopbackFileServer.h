// A tiny HTTP server for a browser under test: it listens on the loopback
// interface only and answers GET requests with files from a root folder or
// from folders mounted under a path prefix. Nothing else is served.
#pragma once

#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QVector>

class QTcpSocket;

class LoopbackFileServer : public QObject {
    Q_OBJECT

public:
    explicit LoopbackFileServer(const QString& rootFolder, QObject* parent = nullptr);

    // Serves folder under prefix, which starts and ends with '/' ("/ruffle/").
    void Mount(const QString& prefix, const QString& folder);
    // Listens on 127.0.0.1 at a free port.
    bool Start();
    quint16 Port() const { return server.serverPort(); }
    // "http://127.0.0.1:PORT" followed by path, which starts with '/'.
    QString Url(const QString& path) const;
    // Each request so far as "STATUS PATH", in order.
    const QStringList& Requests() const { return requests; }

private:
    struct Mounted {
        QString prefix;
        QString folder;
    };

    void answer(QTcpSocket* socket, const QByteArray& requestHead);
    QString fileFor(const QString& path) const;

    QTcpServer server;
    QVector<Mounted> mounts;
    QStringList requests;
};
