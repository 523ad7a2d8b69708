// An FTP server for publishing tests: Debian's pure-ftpd on loopback, with a
// virtual user of its own (pure-pw's database, no system account), chrooted
// into a folder of the test's own, explicit TLS (AUTH TLS) with a
// certificate the test makes, plain FTP allowed too, passive mode.
// pure-ftpd must start as root: it chroots and takes the user's uid
// (nobody's) for each session.
#pragma once

#include <QString>

#include <memory>

namespace TestSupport {

class ServerProcess;

class FtpServer {
public:
    // folder: an empty folder of the test's own; everything lives in it,
    // the login's folder too unless `home` names another (made if missing).
    explicit FtpServer(const QString& folder, const QString& home = {});
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    // The certificate and key TLS presents (PEM); without one, a self-signed
    // certificate for 127.0.0.1 and localhost is made. Takes effect at the
    // next Start.
    void UseCertificate(const QString& certificate, const QString& key);

    // Makes the user (and the certificate) and starts pure-ftpd; on failure
    // returns false with the reason in error. Starting again after Stop
    // keeps the port.
    bool Start(QString* error);
    // Ends the server and its sessions at once, as a crash would.
    void Stop();
    // Ends every session as a crashing session would; the listener stays.
    void KillSessions();

    QString User() const { return "publisher"; }
    // Not ASCII, with a blank: what the login must carry as typed.
    QString Password() const { return QString::fromUtf8("s\xc3\xa9same ouvre-toi"); }
    QString CertificateFile() const { return certificate; }
    int Port() const { return port; }

    // The login's folder (the session's "/"), where publishing writes.
    QString SiteFolder() const;
    // "ftps://publisher@127.0.0.1:PORT/<sub>" ("ftp://" when !tls).
    QString Destination(bool tls, const QString& sub) const;

private:
    QString path(const QString& relative) const;

    QString root, home;
    QString certificate, key;
    int port = 0;
    std::unique_ptr<ServerProcess> server;
};

}  // namespace TestSupport
