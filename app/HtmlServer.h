// The web server of the preview: it hands the program folder's html/ to the
// user's own browser, which cannot play the page from disk (browsers refuse
// file: fetches of the movie and the clip). It is a door into the user's
// files, so it listens on the loopback interface only, answers only requests
// whose path starts with a secret made anew at each start and whose Host is
// the server's own loopback name, answers GET and HEAD only, and serves only
// regular files of the page's kinds that lie inside the folder, symbolic
// links resolved. Anything else gets 400, 404 or 405.
//
// It stays small and up under any load: files go out a piece at a time as
// the peer takes them, a request head is bounded, connections are few, and
// idle or stalled ones are closed.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

#include <chrono>
#include <list>
#include <memory>

class QTcpServer;

// The file that the request path (as sent, percent-encoded) names inside
// folder: its canonical path, or empty when the path is not one we serve
// (a ".." or "." piece in any spelling, a NUL, a file that is missing, not
// regular, not of a served kind, or that lies outside folder once every
// symbolic link is resolved).
QString ServedFile(const QString& folder, const QByteArray& encodedPath);

// The content type of a served file; empty for kinds that are not served.
QByteArray ServedContentType(const QString& path);

// What the server needs of a request head (the request line and the header
// lines, without the blank line that ends them).
struct RequestHead {
    bool Valid = false;  // false for anything that is not HTTP/1.0 or 1.1 as written
    QByteArray Method;
    QByteArray Target;
    QByteArray Host;         // empty when there is none
    qint64 BodyLength = 0;   // what follows the head
    bool KeepAlive = false;  // HTTP/1.1 without "Connection: close"
};
RequestHead ParseRequestHead(const QByteArray& head);

class HtmlServer : public QObject {
    Q_OBJECT

public:
    // A browser opens a handful of connections; more than this and the one
    // idle longest makes way for the newcomer.
    static constexpr int MaxConnections = 32;
    // A connection that has not sent a whole request, or not taken any of
    // its answer, for this long is closed.
    static constexpr std::chrono::milliseconds IdleLimit{30000};

    explicit HtmlServer(const QString& folder, QObject* parent = nullptr);
    ~HtmlServer() override;

    // Serves another folder under prefix, which starts and ends with '/'.
    void Mount(const QString& prefix, const QString& folder);
    // An HTML page kept in memory, at path.
    void AddPage(const QString& path, const QByteArray& html);
    // Listens on 127.0.0.1 at a free port.
    bool Start();
    // Stops listening and closes every connection.
    void Stop();
    quint16 Port() const { return port; }
    // "http://127.0.0.1:PORT/SECRET" followed by path, which starts with '/'.
    QString Url(const QString& path) const;

signals:
    // The landing page was asked for with the secret: whoever was handed
    // the address has come.
    void LandingPageAsked();

private:
    struct Connection;
    struct Answer;

    void acceptAll();
    void descriptorsRanOut();
    void received(Connection& connection);
    void answerWaiting(Connection& connection);
    Answer answerTo(const RequestHead& request, const Connection& connection) const;
    // Writes pieces of the file until the backlog bound; false when it had
    // to drop the connection.
    bool sendMore(Connection& connection);
    void becomeIdle(Connection& connection);
    bool dropIdlest();
    void drop(Connection& connection);
    QString fileFor(const QByteArray& encodedPath) const;
    bool hostIsOurs(const QByteArray& host) const;

    struct Mounted {
        QString prefix;
        QString folder;
    };
    QVector<Mounted> mounts;
    QMap<QString, QByteArray> pages;
    QByteArray secret;
    QTcpServer* listener = nullptr;  // a child of this
    std::list<Connection> connections;
    QTimer resumeAccepting;
    quint16 port = 0;
};
