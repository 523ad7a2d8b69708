// A desktop keyring of the test's own: a D-Bus session bus (Debian's
// dbus-daemon, its own configuration and address) with Debian's
// gnome-keyring-daemon on it offering the Secret Service, its login keyring
// made and unlocked with a test password, its files in the test's folder.
#pragma once

#include <QProcess>
#include <QString>

namespace TestSupport {

class SecretService {
public:
    // folder: an empty folder of the test's own, short enough for a socket path.
    explicit SecretService(const QString& folder);
    ~SecretService();
    SecretService(const SecretService&) = delete;
    SecretService& operator=(const SecretService&) = delete;

    // Starts both, waits until the Secret Service answers on the bus, and
    // makes the bus this process's session bus (DBUS_SESSION_BUS_ADDRESS)
    // until the end; before this process has used any session bus.
    bool Start(QString* error);
    // For DBUS_SESSION_BUS_ADDRESS.
    QString BusAddress() const;

private:
    void keepProcessOnBusEnd();

    QString root;
    QProcess bus;
    QProcess keyring;
    void* gio = nullptr;
    void* sessionBus = nullptr;  // GDBus's connection, held so that its setting stays
};

}  // namespace TestSupport
