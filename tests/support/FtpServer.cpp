#include "support/FtpServer.h"

#include "support/Certificates.h"
#include "support/ServerProcess.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>

#include <signal.h>
#include <unistd.h>

namespace TestSupport {

namespace {

// nobody: every Debian system has it, and it owns nothing else of ours.
constexpr int SessionUid = 65534, SessionGid = 65534;

}  // namespace

FtpServer::FtpServer(const QString& folder, const QString& login)
    : root(folder), home(login.isEmpty() ? QDir(folder).filePath("home") : login)
{
}

FtpServer::~FtpServer() { Stop(); }

QString FtpServer::path(const QString& relative) const { return QDir(root).filePath(relative); }

QString FtpServer::SiteFolder() const { return home; }

QString FtpServer::Destination(bool tls, const QString& sub) const
{
    return QString("%1://%2@127.0.0.1:%3/%4").arg(tls ? "ftps" : "ftp", User()).arg(port).arg(sub);
}

void FtpServer::UseCertificate(const QString& file, const QString& privateKey)
{
    certificate = file;
    key = privateKey;
}

bool FtpServer::Start(QString* error)
{
    if (!QDir().mkpath(root)) {
        *error = "cannot make " + root;
        return false;
    }
    if (certificate.isEmpty()) {
        Certificate made;
        if (!MakeCertificate(root, "ftp-127.0.0.1", "IP:127.0.0.1,DNS:localhost", false, &made, error))
            return false;
        UseCertificate(made.File, made.Key);
    }
    if (!QFile::exists(path("users.pdb"))) {
        if (!QDir().mkpath(home) || ::chown(QFile::encodeName(home).constData(), SessionUid, SessionGid) != 0) {
            *error = "cannot make " + home;
            return false;
        }
        // pure-pw reads the password twice from standard input.
        QProcess add;
        add.setProcessChannelMode(QProcess::MergedChannels);
        add.start("pure-pw", {"useradd", User(), "-u", QString::number(SessionUid), "-g", QString::number(SessionGid),
                              "-d", home, "-f", path("users.passwd")});
        add.write((Password() + '\n' + Password() + '\n').toUtf8());
        add.closeWriteChannel();
        if (!add.waitForFinished(ServerStartMs) || add.exitCode() != 0) {
            *error = "pure-pw useradd failed: " + QString::fromLocal8Bit(add.readAll());
            return false;
        }
        if (!RunProgram("pure-pw", {"mkdb", path("users.pdb"), "-f", path("users.passwd")}, error))
            return false;
    }

    const bool keepPort = port != 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!keepPort)
            port = FreeLoopbackPort();
        // -Y 1: TLS when the client asks (AUTH TLS), plain otherwise; -A: chrooted;
        // -E: no anonymous; -f none: no syslog; -u 1: nobody may log in.
        server = std::make_unique<ServerProcess>(
            "/usr/sbin/pure-ftpd",
            QStringList{"-S", QString("127.0.0.1,%1").arg(port), "-l", "puredb:" + path("users.pdb"), "-E", "-A", "-H",
                        "-f", "none", "-u", "1", "-g", path("pure-ftpd.pid"), "-Y", "1", "-2", certificate + ',' + key},
            path("pure-ftpd.log"), QProcessEnvironment::systemEnvironment());
        if (!server->Start()) {
            *error = "pure-ftpd did not start";
            return false;
        }
        QElapsedTimer waited;
        waited.start();
        while (server->Running() && !AcceptsOn(port) && waited.elapsed() < ServerStartMs)
            QTest::qWait(20);
        if (server->Running() && AcceptsOn(port))
            return true;
        server->Stop();
        // Someone else took the port; a kept one may still be lingering.
        QTest::qWait(keepPort ? 500 : 0);
    }
    *error = "pure-ftpd did not listen: " + QString::fromLocal8Bit(ReadFile(path("pure-ftpd.log")));
    return false;
}

void FtpServer::Stop()
{
    if (server)
        server->Stop();
    server.reset();
}

void FtpServer::KillSessions()
{
    if (!server || !server->Running())
        return;
    // pure-ftpd forks a session and its privilege separation helper for each
    // login; the listener is their parent.
    QList<qint64> parents{server->Pid()};
    while (!parents.isEmpty()) {
        const qint64 parent = parents.takeFirst();
        for (const QString& task : QDir(QString("/proc/%1/task").arg(parent)).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            for (const QByteArray& child : ReadFile(QString("/proc/%1/task/%2/children").arg(parent).arg(task)).simplified().split(' '))
                if (child.toLongLong() > 0) {
                    ::kill(pid_t(child.toLongLong()), SIGKILL);
                    parents.append(child.toLongLong());
                }
    }
}

}  // namespace TestSupport
