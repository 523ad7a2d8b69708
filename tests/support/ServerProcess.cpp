#include "support/ServerProcess.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace TestSupport {

namespace {

// The processes descended from pid, from /proc, parents before children.
QList<pid_t> descendants(pid_t pid)
{
    QList<pid_t> found;
    for (const QString& task :
         QDir(QString("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray children = ReadFile(QString("/proc/%1/task/%2/children").arg(pid).arg(task));
        for (const QByteArray& child : children.simplified().split(' ')) {
            if (child.isEmpty())
                continue;
            found << pid_t(child.toInt());
            found << descendants(pid_t(child.toInt()));
        }
    }
    return found;
}

}  // namespace

int FreeLoopbackPort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(s);
    return port;
}

bool AcceptsOn(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    const bool connected = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(s);
    return connected;
}

QStringList LogCaptures(const QString& log, const QRegularExpression& pattern)
{
    QStringList captured;
    for (const QByteArray& line : ReadFile(log).split('\n')) {
        const auto match = pattern.match(QString::fromLocal8Bit(line));
        if (match.hasMatch())
            captured << match.captured(1);
    }
    return captured;
}

bool WriteText(const QString& path, const QByteArray& text, QFile::Permissions permissions)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        return false;
    file.close();
    return permissions == QFile::Permissions() || file.setPermissions(permissions);
}

bool RunProgram(const QString& program, const QStringList& arguments, QString* error,
                const QProcessEnvironment& environment, QByteArray* output)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(ServerStartMs)) {
        process.kill();
        process.waitForFinished();
        *error = program + " did not finish: " + process.errorString();
        return false;
    }
    const QByteArray said = process.readAll();
    if (output)
        *output = said;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *error = program + " failed: " + QString::fromLocal8Bit(said);
        return false;
    }
    return true;
}

ServerProcess::ServerProcess(const QString& program, const QStringList& arguments, const QString& log,
                             const QProcessEnvironment& environment)
{
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(log, QIODevice::Append);
    process.setStandardErrorFile(log, QIODevice::Append);
    // Gone with the test, even when it crashes.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

bool ServerProcess::Start()
{
    process.start();
    return process.waitForStarted(ServerStartMs);
}

void ServerProcess::Stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    // Frozen first, so that nothing forks while the tree is read.
    const pid_t top = Pid();
    ::kill(top, SIGSTOP);
    QList<pid_t> tree = descendants(top);
    for (pid_t pid : tree)
        ::kill(pid, SIGSTOP);
    tree = descendants(top);
    for (pid_t pid : tree)
        ::kill(pid, SIGKILL);
    ::kill(top, SIGKILL);
    process.waitForFinished(ServerStartMs);
}

std::unique_ptr<ServerProcess> StartOnLoopback(const std::function<bool(ServerLaunch*, QString* error)>& prepare,
                                               QString* error)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        ServerLaunch launch;
        if (!prepare(&launch, error))
            return nullptr;
        const qint64 logStart = QFileInfo(launch.Log).size();
        if (!launch.ErrorLog.isEmpty())
            QFile::remove(launch.ErrorLog);
        auto said = [&] {
            return ReadFile(launch.Log).mid(logStart) + (launch.ErrorLog.isEmpty() ? QByteArray() : ReadFile(launch.ErrorLog));
        };
        auto server = std::make_unique<ServerProcess>(launch.Program, launch.Arguments, launch.Log,
                                                      QProcessEnvironment::systemEnvironment());
        if (server->Start() && WaitFor([&] { return launch.Up(said()) || !server->Running(); }, ServerStartMs) &&
            server->Running())
            return server;
        *error = QFileInfo(launch.Program).fileName() + " did not start: " + QString::fromLocal8Bit(said());
        server.reset();
        if (!said().contains("Address already in use"))
            return nullptr;
        QTest::qSleep(200);
    }
    return nullptr;
}

std::unique_ptr<ServerProcess> StartNginx(const QString& folder, const std::function<NginxSetup()>& configure,
                                          const std::function<bool()>& up, QString* error)
{
    // Bodies wait beside the served folder, on its file system, so that a
    // whole PUT is renamed into place and a broken one leaves nothing.
    const QString temp = folder + "/temp";
    return StartOnLoopback(
        [&](ServerLaunch* launch, QString* reason) {
            const NginxSetup setup = configure();
            const QByteArray config =
                QString(
                    "daemon off;\n"
                    "master_process off;\n"
                    "%3"
                    "pid %1/nginx.pid;\n"
                    "error_log %1/error.log info;\n"
                    "events { worker_connections 256; }\n"
                    "http {\n"
                    "  types { text/html html; text/javascript js mjs; application/wasm wasm;\n"
                    "          application/x-shockwave-flash swf; video/x-flv flv; text/css css;\n"
                    "          application/json json; }\n"
                    "  default_type application/octet-stream;\n"
                    "  access_log %1/access.log;\n"
                    "  client_body_temp_path %2/body; proxy_temp_path %2/proxy;\n"
                    "  fastcgi_temp_path %2/fastcgi; uwsgi_temp_path %2/uwsgi;\n"
                    "  scgi_temp_path %2/scgi;\n"
                    "%4"
                    "}\n")
                    .arg(folder, temp, setup.Modules, setup.Http)
                    .toLocal8Bit();
            if (!QDir().mkpath(temp) || !WriteText(folder + "/nginx.conf", config)) {
                *reason = "cannot write the nginx configuration";
                return false;
            }
            *launch = {"/usr/sbin/nginx",
                       {"-p", folder + "/", "-c", folder + "/nginx.conf", "-e", folder + "/error.log"},
                       folder + "/nginx.log",
                       folder + "/error.log",
                       [&](const QByteArray&) { return up(); }};
            return true;
        },
        error);
}

}  // namespace TestSupport
