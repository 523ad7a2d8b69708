#include "support/SecretService.h"

#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>

#include <csignal>
#include <dlfcn.h>
#include <sys/prctl.h>

namespace TestSupport {

namespace {

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(30000);
}

}  // namespace

SecretService::SecretService(const QString& folder) : root(QDir(folder).absolutePath())
{
    for (QProcess* process : {&bus, &keyring}) {
        process->setStandardInputFile(QProcess::nullDevice());
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(root + "/servers.log", QIODevice::Append);
        // Gone with the test, even when it crashes.
        process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    }
}

SecretService::~SecretService()
{
    stop(keyring);
    stop(bus);
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (sessionBus)
        reinterpret_cast<void (*)(void*)>(dlsym(gio, "g_object_unref"))(sessionBus);
    if (gio)
        dlclose(gio);
}

// GDBus, which the keyring library uses in this process, ends the process
// with SIGTERM when its session bus goes, as when a desktop session ends;
// this bus goes with the test. GLib's headers are not among the test's
// packages, so its three calls are looked up by name.
void SecretService::keepProcessOnBusEnd()
{
    gio = dlopen("libgio-2.0.so.0", RTLD_NOW);
    if (!gio)
        return;
    using GetBus = void* (*)(int busType, void* cancellable, void** error);
    using SetExitOnClose = void (*)(void* connection, int exitOnClose);
    auto getBus = reinterpret_cast<GetBus>(dlsym(gio, "g_bus_get_sync"));
    auto setExitOnClose = reinterpret_cast<SetExitOnClose>(dlsym(gio, "g_dbus_connection_set_exit_on_close"));
    if (!getBus || !setExitOnClose || !dlsym(gio, "g_object_unref"))
        return;
    constexpr int SessionBus = 2;  // G_BUS_TYPE_SESSION
    sessionBus = getBus(SessionBus, nullptr, nullptr);
    if (sessionBus)
        setExitOnClose(sessionBus, 0);
}

QString SecretService::BusAddress() const
{
    return "unix:path=" + root + "/bus";
}

bool SecretService::Start(QString* error)
{
    QDir(root).mkpath("home/data");
    QDir(root).mkpath("runtime");
    QFile::setPermissions(root + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile config(root + "/bus.conf");
    if (!config.open(QIODevice::WriteOnly)) {
        *error = "cannot write " + config.fileName();
        return false;
    }
    // A session bus that starts nothing by itself: only what the test starts is on it.
    config.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
                 " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                 "<busconfig><type>session</type><listen>" +
                 BusAddress().toUtf8() +
                 "</listen><auth>EXTERNAL</auth>"
                 "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                 "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                 "</busconfig>\n");
    config.close();
    bus.start("dbus-daemon", {"--config-file=" + config.fileName(), "--nofork", "--nopidfile"});
    if (!bus.waitForStarted(30000)) {
        *error = "dbus-daemon did not start: " + bus.errorString();
        return false;
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", BusAddress());
    environment.insert("HOME", root + "/home");
    environment.insert("XDG_DATA_HOME", root + "/home/data");
    environment.insert("XDG_RUNTIME_DIR", root + "/runtime");
    keyring.setProcessEnvironment(environment);
    keyring.setStandardInputFile({});  // a pipe, for the password
    if (!WaitFor([&] { return QFile::exists(root + "/bus"); }, 30000)) {
        *error = "dbus-daemon made no socket";
        return false;
    }
    // --unlock reads the login keyring's password from standard input,
    // making the keyring with it.
    keyring.start("gnome-keyring-daemon", {"--foreground", "--components=secrets", "--unlock"});
    if (!keyring.waitForStarted(30000)) {
        *error = "gnome-keyring-daemon did not start: " + keyring.errorString();
        return false;
    }
    keyring.write("keyring-unlock-word");
    keyring.closeWriteChannel();

    const QString name = "oz-test-secrets-" + root;
    bool answering = false;
    {
        QDBusConnection look = QDBusConnection::connectToBus(BusAddress(), name);
        answering = WaitFor(
            [&] {
                return look.isConnected() && look.interface() &&
                       look.interface()->isServiceRegistered("org.freedesktop.secrets").value();
            },
            60000);
    }
    QDBusConnection::disconnectFromBus(name);
    if (!answering) {
        *error = "the Secret Service did not come on the bus";
        return false;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", BusAddress().toUtf8());
    keepProcessOnBusEnd();
    return true;
}

}  // namespace TestSupport
