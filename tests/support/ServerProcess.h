// What the test servers share: a long-running child with its output in a log
// file, free loopback ports, and short programs run to their end.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include <sys/types.h>

namespace TestSupport {

inline constexpr int ServerStartMs = 30000;

// A loopback port free at this moment; a server may lose it to another before
// it binds, so starting retries with a new one.
int FreeLoopbackPort();
// Whether something accepts connections on the loopback port.
bool AcceptsOn(int port);

// The first group `pattern` captures in each line of a server's log, in order.
QStringList LogCaptures(const QString& log, const QRegularExpression& pattern);

bool WriteText(const QString& path, const QByteArray& text, QFile::Permissions permissions = {});

// A short program run to its end; its output on failure.
bool RunProgram(const QString& program, const QStringList& arguments, QString* error,
                const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                QByteArray* output = nullptr);

// A long-running child whose output goes to a log file; ending it also ends
// whatever it started (sshd's sessions live in sessions of their own, out of
// reach of its process group).
class ServerProcess {
public:
    ServerProcess(const QString& program, const QStringList& arguments, const QString& log,
                  const QProcessEnvironment& environment);
    ~ServerProcess() { Stop(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool Start();
    bool Running() const { return process.state() == QProcess::Running; }
    pid_t Pid() const { return pid_t(process.processId()); }
    void Stop();

private:
    QProcess process;
};

// How to start a server whose loopback ports are picked just before it
// binds them.
struct ServerLaunch {
    QString Program;
    QStringList Arguments;
    QString Log;       // its output
    QString ErrorLog;  // where else it reports, if anywhere; emptied for each try
    // Whether it serves, told what it said since it started.
    std::function<bool(const QByteArray& said)> Up;
};
// Starts the server `prepare` describes (its ports picked, its configuration
// written; false with the reason in error), asked again for new ports when
// one was taken before the server could bind it. Nothing, and the reason in
// error, when it does not start.
std::unique_ptr<ServerProcess> StartOnLoopback(const std::function<bool(ServerLaunch*, QString* error)>& prepare,
                                               QString* error);

// Debian's nginx for a test: one process (no workers that would drop to
// another user), its configuration, logs and temporary files in a folder of
// the test's own, and the types a published site needs.
struct NginxSetup {
    QString Modules;  // lines before the rest (load_module)
    QString Http;     // the http block's own part: its servers
};
// Starts nginx in `folder` with what `configure` gives, asked again for new
// ports when one was taken before nginx could bind it; `up`: whether it
// serves. Nothing, and the reason in error, when it does not start.
std::unique_ptr<ServerProcess> StartNginx(const QString& folder, const std::function<NginxSetup()>& configure,
                                          const std::function<bool()>& up, QString* error);

}  // namespace TestSupport
