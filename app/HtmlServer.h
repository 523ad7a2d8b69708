// The web server of the preview: it hands the program folder's html/ to the
// user's own browser, which cannot play the page from disk (browsers refuse
// file: fetches of the movie and the clip). It is a door into the user's
// files, so it listens on the loopback interface only, answers GET and HEAD
// only, and serves only regular files of the page's kinds that lie inside
// the folder, symbolic links resolved. Anything else gets 404 or 405.
#pragma once

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVector>

class QTcpServer;

// The file that the request path (as sent, percent-encoded) names inside
// folder: its canonical path, or empty when the path is not one we serve
// (a ".." or "." piece in any spelling, a NUL, a file that is missing, not
// regular, not of a served kind, or that lies outside folder once every
// symbolic link is resolved).
QString ServedFile(const QString& folder, const QByteArray& encodedPath);

// The content type of a served file; empty for kinds that are not served.
QByteArray ServedContentType(const QString& path);

class HtmlServer : public QAbstractHttpServer {
    Q_OBJECT

public:
    explicit HtmlServer(const QString& folder, QObject* parent = nullptr);

    // Serves another folder under prefix, which starts and ends with '/'.
    void Mount(const QString& prefix, const QString& folder);
    // An HTML page kept in memory, at path.
    void AddPage(const QString& path, const QByteArray& html);
    // Listens on 127.0.0.1 at a free port.
    bool Start();
    quint16 Port() const { return port; }
    // "http://127.0.0.1:PORT" followed by path, which starts with '/'.
    QString Url(const QString& path) const;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Mounted {
        QString prefix;
        QString folder;
    };
    QString fileFor(const QByteArray& encodedPath) const;

    QVector<Mounted> mounts;
    QMap<QString, QByteArray> pages;
    quint16 port = 0;
};
