#include "support/SiteServers.h"

#include "support/ServerProcess.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <cstring>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace TestSupport {

namespace {

constexpr int StartMs = ServerStartMs;

// The agent's socket exists a moment before it listens.
bool listening(const QString& socketPath)
{
    const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = socketPath.toLocal8Bit();
    if (size_t(name.size()) >= sizeof address.sun_path) {
        ::close(s);
        return false;
    }
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const bool connected = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(s);
    return connected;
}

}  // namespace

SiteServers::SiteServers(const QString& folder) : root(QDir(folder).absolutePath())
{
    if (const passwd* entry = ::getpwuid(::geteuid()))
        user = QString::fromLocal8Bit(entry->pw_name);
}

SiteServers::~SiteServers()
{
    nginx.reset();
    sshd.reset();
    agent.reset();
}

QString SiteServers::path(const QString& relative) const
{
    return root + "/" + relative;
}

QString SiteServers::SiteFolder() const
{
    return path("site");
}

QString SiteServers::Destination(const QString& sub) const
{
    QString folder = SiteFolder();
    if (!sub.isEmpty())
        folder += "/" + sub;
    return QString("sftp://%1@127.0.0.1:%2%3").arg(user).arg(sshPort).arg(folder);
}

QString SiteServers::WebAddress(const QString& sub) const
{
    return QString("http://127.0.0.1:%1/%2").arg(webPort).arg(sub);
}

QString SiteServers::KeyFile() const
{
    return path("keys/user_key");
}

QString SiteServers::OtherKeyFile() const
{
    return path("keys/other_key");
}

QString SiteServers::Home() const
{
    return path("home");
}

QString SiteServers::AgentSocket() const
{
    return path("agent.sock");
}

QProcessEnvironment SiteServers::Environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", Home());
    environment.insert("SSH_AUTH_SOCK", AgentSocket());
    return environment;
}

bool SiteServers::makeKey(const QString& file, QString* error)
{
    QFile::remove(file);
    QFile::remove(file + ".pub");
    return RunProgram("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-C", "ombrix-test", "-f", file}, error);
}

QString SiteServers::HostKeyFingerprint() const
{
    QString error;
    QByteArray output;
    if (!RunProgram("ssh-keygen", {"-l", "-E", "sha256", "-f", path("ssh/host_key.pub")}, &error,
             QProcessEnvironment::systemEnvironment(), &output))
        return {};
    const auto match = QRegularExpression("(SHA256:[A-Za-z0-9+/=]+)").match(QString::fromLatin1(output));
    return match.captured(1);
}

bool SiteServers::TrustHostKey()
{
    const QList<QByteArray> key = ReadFile(path("ssh/host_key.pub")).simplified().split(' ');
    if (key.size() < 2)
        return false;
    const QByteArray line = QString("[127.0.0.1]:%1 ").arg(sshPort).toLatin1() + key[0] + " " + key[1] + "\n";
    QFile known(Home() + "/.ssh/known_hosts");
    return known.open(QIODevice::Append) && known.write(line) == line.size();
}

void SiteServers::ForgetHostKeys()
{
    WriteText(Home() + "/.ssh/known_hosts", {});
}

bool SiteServers::writeSshConfig(QString* error)
{
    // The SFTP server logs what it opens to a file of ours through a pipe
    // (its standard error would go to the client, and a file size limit
    // would cut a log it wrote itself). The limit is read as a session
    // starts; a write beyond it fails as on a full disk and does not end the
    // server, whose signal for it is ignored. As root it runs without the
    // power to write where the modes forbid, so that a read-only folder is
    // one for the tests too.
    const QByteArray limitCaps =
        ::geteuid() == 0 ? "setpriv --bounding-set=-dac_override,-dac_read_search " : "";
    const QByteArray wrapper =
        "#!/bin/sh\n"
        "trap '' XFSZ\n"
        "limit=$(cat '" +
        path("ssh/file-size-limit").toLocal8Bit() +
        "' 2>/dev/null)\n"
        "exec 3>&1\n"
        "prlimit --fsize=${limit:-unlimited} " +
        limitCaps + "/usr/lib/openssh/sftp-server -e -l INFO 2>&1 1>&3 3>&- | cat >>'" +
        path("sftp.log").toLocal8Bit() + "' 3>&-\n";
    const QByteArray config =
        QString(
            "Port %1\n"
            "ListenAddress 127.0.0.1\n"
            "HostKey %2\n"
            "PidFile none\n"
            "AuthorizedKeysFile %3\n"
            "AuthenticationMethods publickey\n"
            "PasswordAuthentication no\n"
            "KbdInteractiveAuthentication no\n"
            "UsePAM no\n"
            "PermitRootLogin prohibit-password\n"
            "StrictModes no\n"
            "UseDNS no\n"
            "PrintMotd no\n"
            "LogLevel INFO\n"
            "Subsystem sftp %4\n")
            .arg(sshPort)
            .arg(path("ssh/host_key"), path("ssh/authorized_keys"), path("ssh/sftp-server"))
            .toLocal8Bit();
    if (!WriteText(path("ssh/sftp-server"), wrapper,
                   QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                       QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther) ||
        !WriteText(path("ssh/sshd_config"), config)) {
        *error = "cannot write the sshd configuration";
        return false;
    }
    return true;
}

bool SiteServers::Start(QString* error)
{
    for (const char* folder : {"keys", "ssh", "site", "web", "home/.ssh"}) {
        if (!QDir().mkpath(path(folder))) {
            *error = QString("cannot make %1").arg(path(folder));
            return false;
        }
    }
    QFile::setPermissions(path("home/.ssh"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ForgetHostKeys();
    SetFileSizeLimit(-1);
    if (!makeKey(KeyFile(), error) || !makeKey(OtherKeyFile(), error) ||
        !makeKey(path("ssh/host_key"), error))
        return false;
    if (!QFile::copy(KeyFile() + ".pub", path("ssh/authorized_keys"))) {
        *error = "cannot authorize the user key";
        return false;
    }

    // ssh-agent is set-group-id, which clears the signal the others get at
    // the test's end; as the parent of the command it is given, it ends with
    // that command, which gets the signal.
    agent = std::make_unique<ServerProcess>(
        "ssh-agent",
        QStringList{"-a", AgentSocket(), "setpriv", "--pdeathsig", "KILL", "--", "sleep", "infinity"},
        path("agent.log"), QProcessEnvironment::systemEnvironment());
    if (!agent->Start() || !WaitFor([&] { return listening(AgentSocket()) || !agent->Running(); }, StartMs) ||
        !agent->Running()) {
        *error = "ssh-agent did not start: " + QString::fromLocal8Bit(ReadFile(path("agent.log")));
        return false;
    }
    if (!RunProgram("ssh-add", {"-q", KeyFile()}, error, Environment()))
        return false;
    return StartSsh(error) && StartWeb(error);
}

bool SiteServers::StartSsh(QString* error)
{
    // sshd wants its privilege separation folder, which the system makes at boot.
    if (::geteuid() == 0)
        QDir().mkpath("/run/sshd");
    const bool keepPort = sshPort != 0;
    sshd = StartOnLoopback(
        [&](ServerLaunch* launch, QString* reason) {
            if (!keepPort)
                sshPort = FreeLoopbackPort();
            const QByteArray listening = QString("Server listening on 127.0.0.1 port %1").arg(sshPort).toLatin1();
            *launch = {"/usr/sbin/sshd",
                       {"-D", "-e", "-f", path("ssh/sshd_config")},
                       path("sshd.log"),
                       {},
                       [listening](const QByteArray& said) { return said.contains(listening); }};
            return writeSshConfig(reason);
        },
        error);
    return sshd != nullptr;
}

void SiteServers::StopSsh()
{
    sshd.reset();
}

bool SiteServers::ChangeHostKey(QString* error)
{
    StopSsh();
    return makeKey(path("ssh/host_key"), error) && StartSsh(error);
}

bool SiteServers::SetFileSizeLimit(qint64 bytes)
{
    return WriteText(path("ssh/file-size-limit"),
                     bytes < 0 ? QByteArray("unlimited") : QByteArray::number(bytes));
}

bool SiteServers::StartWeb(QString* error)
{
    const bool keepPort = webPort != 0;
    nginx = StartNginx(
        path("web"),
        [&] {
            if (!keepPort)
                webPort = FreeLoopbackPort();
            return NginxSetup{{}, QString("  server {\n"
                                          "    listen 127.0.0.1:%1;\n"
                                          "    root %2;\n"
                                          "    location / { }\n"
                                          "  }\n")
                                      .arg(webPort)
                                      .arg(SiteFolder())};
        },
        [&] { return AcceptsOn(webPort); }, error);
    return nginx != nullptr;
}

void SiteServers::StopWeb()
{
    nginx.reset();
}

QStringList SiteServers::WrittenFiles() const
{
    // A file counts when bytes went into it; failed opens are logged too.
    static const QRegularExpression close(R"re(close "(.*)" bytes read \d+ written [1-9])re");
    return LogCaptures(path("sftp.log"), close);
}

QStringList SiteServers::WebRequests() const
{
    static const QRegularExpression request(R"re("[A-Z]+ (\S+) HTTP/)re");
    return LogCaptures(path("web/access.log"), request);
}

}  // namespace TestSupport
