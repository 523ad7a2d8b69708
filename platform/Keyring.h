#pragma once
// The desktop's keyring (the Secret Service of GNOME and others, or KDE's
// wallet) through QtKeychain, where remembered passwords live: never in a
// settings file. Every entry is under the program's own service name, keyed
// by the text the user knows the site by.

#include <QString>

#include <functional>

class QObject;

namespace Keyring {

struct Answer {
    bool Ok = false;   // the keyring answered; false: Error says why
    bool Found = false;
    QString Password;  // Read: what was kept, when Found
    QString Error;     // for the user; never holds a password
};
using Done = std::function<void(const Answer&)>;

// Why no keyring can be reached ("no desktop session bus", "no keyring
// service is running"), in a few words for a greyed option; empty when one
// can. Looks at the session bus only: it starts no bus of its own.
QString Unreachable();

// Each starts at once and calls `done` once on the caller's thread, unless
// `context` has gone by then. A keyring that keeps silent (an unlock prompt
// nobody answers) gives up after `timeoutMs`, so that nothing waits on it
// forever.
void Read(const QString& key, QObject* context, Done done, int timeoutMs = 120000);
void Write(const QString& key, const QString& password, QObject* context, Done done, int timeoutMs = 120000);
void Forget(const QString& key, QObject* context, Done done, int timeoutMs = 120000);

// Read for callers without a window (the command line): waits in an event
// loop of its own; with no keyring in reach, answers that at once.
Answer ReadNow(const QString& key, int timeoutMs = 120000);

}  // namespace Keyring
