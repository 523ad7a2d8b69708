// Real servers for publishing tests, started as children on loopback inside
// a folder of the test's own: Debian's OpenSSH sshd (its own host key, a user
// key in its authorized keys, SFTP with a log of what it writes), an
// ssh-agent holding that key, a HOME whose ~/.ssh/known_hosts is the test's,
// and Debian's nginx serving the folder the SFTP server writes into.
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <memory>

namespace TestSupport {

class ServerProcess;

class SiteServers {
public:
    // folder: an empty folder of the test's own, its path free of blanks and
    // quotes (it goes into the servers' configuration); everything lives in it.
    explicit SiteServers(const QString& folder);
    ~SiteServers();
    SiteServers(const SiteServers&) = delete;
    SiteServers& operator=(const SiteServers&) = delete;

    // Makes the keys and starts the agent, sshd and nginx; the host key is
    // not yet trusted (see TrustHostKey). On failure returns false with the
    // reason in error.
    bool Start(QString* error);

    // sshd: stopping also ends the sessions it serves, at once, as a crash
    // of the server would; starting again keeps its port and host key.
    void StopSsh();
    bool StartSsh(QString* error);
    // A new host key, and sshd restarted with it.
    bool ChangeHostKey(QString* error);
    // Largest file the SFTP server may write, in bytes (-1: no limit), for
    // sessions that start from now on; a write beyond it fails as on a full
    // disk, the server goes on.
    bool SetFileSizeLimit(qint64 bytes);

    // nginx, on its own port; starting again keeps it.
    void StopWeb();
    bool StartWeb(QString* error);

    QString User() const { return user; }
    int SshPort() const { return sshPort; }
    int WebPort() const { return webPort; }
    // The folder written over SFTP and served over HTTP ("site/" in folder).
    QString SiteFolder() const;
    // "sftp://USER@127.0.0.1:PORT/<SiteFolder>/<sub>"
    QString Destination(const QString& sub = {}) const;
    // "http://127.0.0.1:PORT/<sub>", the same folder seen on the web.
    QString WebAddress(const QString& sub = {}) const;

    // The user key (authorized, also held by the agent) and one that is not.
    QString KeyFile() const;
    QString OtherKeyFile() const;
    // "SHA256:..." of the current host key.
    QString HostKeyFingerprint() const;
    // Adds the current host key to known_hosts, or empties the file.
    bool TrustHostKey();
    void ForgetHostKeys();

    QString Home() const;
    QString AgentSocket() const;
    // The system's environment with HOME and SSH_AUTH_SOCK of these servers.
    QProcessEnvironment Environment() const;

    // The files the SFTP server wrote bytes into, absolute paths in order,
    // over every session so far.
    QStringList WrittenFiles() const;

    // The paths nginx was asked for, in order ("/folder/page.html").
    QStringList WebRequests() const;

private:
    bool makeKey(const QString& path, QString* error);
    bool writeSshConfig(QString* error);
    QString path(const QString& relative) const;

    QString root;
    QString user;
    int sshPort = 0;
    int webPort = 0;
    std::unique_ptr<ServerProcess> agent;
    std::unique_ptr<ServerProcess> sshd;
    std::unique_ptr<ServerProcess> nginx;
};

}  // namespace TestSupport
