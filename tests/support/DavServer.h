// A WebDAV server for publishing tests: Debian's nginx with its dav methods
// and the dav-ext module's PROPFIND, behind basic authentication (a user and
// password of the test's own), over http and https (a certificate the test
// makes), started as a child on loopback inside a folder of the test's own.
// The same folder is served read-only and without a login on a third port,
// as visitors see the site.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

#include <sys/types.h>

namespace TestSupport {

class ServerProcess;
struct NginxSetup;

class DavServer {
public:
    // folder: an empty folder of the test's own, its path free of blanks and
    // quotes (it goes into nginx's configuration); everything lives in it.
    explicit DavServer(const QString& folder);
    ~DavServer();
    DavServer(const DavServer&) = delete;
    DavServer& operator=(const DavServer&) = delete;

    // Before Start: a server that answers PROPFIND "not allowed", as plain
    // nginx does, so that clients must find sizes another way.
    void WithoutPropfind() { propfind = false; }
    // https presents a self-signed certificate the server makes as it
    // starts, for 127.0.0.1 and localhost unless another name is given here;
    // starting again after a new name makes a new one.
    void CertificateFor(const QString& name) { certificateName = name; }

    // Makes the login (and the certificate) and starts nginx; on failure
    // returns false with the reason in error. Starting again keeps the ports.
    bool Start(QString* error);
    // Ends the server at once, as a crash would, mid-request or not. Safe on
    // any thread (a publisher reports its progress on its own).
    void Crash() const;

    QString User() const { return "publisher"; }
    // Not ASCII, with a colon and a blank: what basic authentication must carry.
    QString Password() const { return QString::fromUtf8("s\xc3\xa9same: ouvre-toi"); }
    QString CertificateFile() const;

    // The folder written over WebDAV and served on the web.
    QString SiteFolder() const;
    // "http(s)://publisher@127.0.0.1:PORT/<sub>/"
    QString Destination(bool https, const QString& sub) const;
    // "http://127.0.0.1:PORT/<sub>", the same folder, read-only, no login.
    QString WebAddress(const QString& sub = {}) const;

    // "METHOD /path" of every WebDAV request so far, in order.
    QStringList DavRequests() const;

private:
    NginxSetup setup() const;
    QString path(const QString& relative) const;

    QString root;
    QString certificateName = "127.0.0.1";
    QString madeFor;  // the name of the certificate made last
    bool propfind = true;
    int httpPort = 0, httpsPort = 0, webPort = 0;
    pid_t pid = 0;
    std::unique_ptr<ServerProcess> nginx;
};

}  // namespace TestSupport
