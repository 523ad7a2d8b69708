#include "platform/Keyring.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <qt6keychain/keychain.h>

namespace Keyring {

namespace {

const QString Service = QStringLiteral("ombrix-zudodira");

// The one call of `done`: the job's end or the deadline, whichever is first.
struct Pending {
    QPointer<QObject> Context;
    bool HasContext = false;
    Done Callback;
    bool Called = false;

    void Finish(const Answer& answer)
    {
        if (Called)
            return;
        Called = true;
        if (!HasContext || Context)
            Callback(answer);
    }
};

void run(QKeychain::Job* job, QObject* context, Done done, int timeoutMs)
{
    auto pending = std::make_shared<Pending>();
    pending->Context = context;
    pending->HasContext = context != nullptr;
    pending->Callback = std::move(done);
    // The job deletes itself when it ends, also after the deadline has
    // passed: the keyring library may still call back into it until then.
    job->setAutoDelete(true);
    QObject::connect(job, &QKeychain::Job::finished, job, [pending](QKeychain::Job* finished) {
        Answer answer;
        switch (finished->error()) {
        case QKeychain::NoError:
            answer.Ok = true;
            answer.Found = true;
            if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(finished))
                answer.Password = read->textData();
            break;
        case QKeychain::EntryNotFound:
            answer.Ok = true;
            break;
        default:
            answer.Error = finished->errorString().isEmpty() ? QStringLiteral("the keyring refused")
                                                             : finished->errorString();
            break;
        }
        pending->Finish(answer);
    });
    auto* deadline = new QTimer(job);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, job, [pending] {
        Answer late;
        late.Error = QStringLiteral("the keyring did not answer");
        pending->Finish(late);
    });
    deadline->start(timeoutMs);
    job->start();
}

}  // namespace

QString Unreachable()
{
    // Without an address, the bus libraries would try to start a bus of their
    // own for an X display; a keyring on such a bus would keep nothing.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (runtime.isEmpty() || !QFileInfo(QDir(runtime).filePath(QStringLiteral("bus"))).exists()))
        return QStringLiteral("no desktop session is running");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return QStringLiteral("the desktop session cannot be reached");
    const QStringList keyrings{QStringLiteral("org.freedesktop.secrets"), QStringLiteral("org.kde.kwalletd6"),
                               QStringLiteral("org.kde.kwalletd5"), QStringLiteral("org.kde.kwalletd")};
    const QDBusReply<QStringList> startable = bus.interface()->activatableServiceNames();
    for (const QString& name : keyrings)
        if (bus.interface()->isServiceRegistered(name).value() ||
            (startable.isValid() && startable.value().contains(name)))
            return {};
    return QStringLiteral("no keyring is running on this desktop");
}

void Read(const QString& key, QObject* context, Done done, int timeoutMs)
{
    auto* job = new QKeychain::ReadPasswordJob(Service);
    job->setKey(key);
    run(job, context, std::move(done), timeoutMs);
}

void Write(const QString& key, const QString& password, QObject* context, Done done, int timeoutMs)
{
    auto* job = new QKeychain::WritePasswordJob(Service);
    job->setKey(key);
    job->setTextData(password);
    run(job, context, std::move(done), timeoutMs);
}

void Forget(const QString& key, QObject* context, Done done, int timeoutMs)
{
    auto* job = new QKeychain::DeletePasswordJob(Service);
    job->setKey(key);
    run(job, context, std::move(done), timeoutMs);
}

Answer ReadNow(const QString& key, int timeoutMs)
{
    Answer answer;
    answer.Error = Unreachable();
    if (!answer.Error.isEmpty())
        return answer;
    bool finished = false;
    QEventLoop loop;
    Read(
        key, &loop,
        [&](const Answer& given) {
            answer = given;
            finished = true;
            loop.quit();
        },
        timeoutMs);
    if (!finished)
        loop.exec();
    return answer;
}

}  // namespace Keyring
