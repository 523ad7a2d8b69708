// What the test servers share: a long-running child with its output in a log
// file, free loopback ports, and short programs run to their end.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace TestSupport {

inline constexpr int ServerStartMs = 30000;

// A loopback port free at this moment; a server may lose it to another before
// it binds, so starting retries with a new one.
int FreeLoopbackPort();
// Whether something accepts connections on the loopback port.
bool AcceptsOn(int port);

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

}  // namespace TestSupport
