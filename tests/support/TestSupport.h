#pragma once

#include "base/Sanitizers.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <string>
#include <vector>

// Runs a QtTest class inside the program's own application object, so that
// exceptions escaping handlers reach the general error box as they do in the
// program.
#define OZ_TEST_MAIN(TestClass)                    \
    int main(int argc, char* argv[])               \
    {                                              \
        TApplication application(argc, argv);      \
        TApplication::SetTitle("Ombrix Zudodira"); \
        TestClass test;                            \
        QTEST_SET_MAIN_SOURCE_PATH                 \
        return QTest::qExec(&test, argc, argv);    \
    }

namespace TestSupport {

// The program's application object, which the test main made.
inline TApplication& App()
{
    return *static_cast<TApplication*>(QCoreApplication::instance());
}

// A control of a window by its design name; a missing one ends the test
// program, since every later step would only fail obscurely.
template <class T>
T* Control(QWidget* window, const char* name)
{
    auto* found = window->findChild<T*>(name);
    if (!found)
        qFatal("no control %s", name);
    return found;
}

// A temporary program folder with html/ and html/flvs/, made the program's
// folder and the current folder for the lifetime of the object (programs are
// looked up in the current folder too: a test must not find the build's).
class TempProgramFolder {
public:
    TempProgramFolder();
    ~TempProgramFolder();
    TempProgramFolder(const TempProgramFolder&) = delete;
    TempProgramFolder& operator=(const TempProgramFolder&) = delete;

    std::string Path() const;  // ends in '/'
    QString QPath() const { return QString::fromLocal8Bit(Path().c_str()); }
    std::string FilePath(const std::string& relative) const { return Path() + relative; }

private:
    QTemporaryDir folder;
    QString previousCurrent;
};

// Records every message box, error box, choice box and shell "open" instead
// of showing them; an optional reaction runs when a message is "shown",
// before it is "dismissed".
class DialogRecorder {
public:
    DialogRecorder();
    ~DialogRecorder();
    DialogRecorder(const DialogRecorder&) = delete;
    DialogRecorder& operator=(const DialogRecorder&) = delete;

    std::vector<Dialogs::MessageRequest> Messages;
    std::vector<std::string> OpenedAddresses;
    std::function<void(const Dialogs::MessageRequest&)> OnMessage;
    // Boxes with answers of their own; OnChoice answers them (by default
    // with the box's Escape answer).
    std::vector<Dialogs::ChoiceRequest> Choices;
    std::function<int(const Dialogs::ChoiceRequest&)> OnChoice;

    // The texts shown so far, in order.
    std::vector<std::string> Texts() const;

private:
    Dialogs::MessageHandler previousMessages;
    Dialogs::ShellOpenHandler previousShell;
    Dialogs::ChoiceHandler previousChoice;
};

// A file's bytes; empty when it cannot be read.
QByteArray ReadFile(const QString& path);

// Waits, serving events, until the condition holds or the deadline passes.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 30000);

// Makes files with mode 0444 unwritable for this thread even when the tests
// run as root, by dropping the capability that lets root override file
// permissions. Restored when the object goes away.
class RootOverrideOff {
public:
    RootOverrideOff();
    ~RootOverrideOff();
    RootOverrideOff(const RootOverrideOff&) = delete;
    RootOverrideOff& operator=(const RootOverrideOff&) = delete;

private:
    bool changed = false;
};

// Sanitizer builds keep freed memory aside for a while: memory figures mean
// nothing there.
#if defined(OZ_ADDRESS_SANITIZER) || defined(OZ_THREAD_SANITIZER)
inline constexpr bool SanitizerBuild = true;
#else
inline constexpr bool SanitizerBuild = false;
#endif

// What this process holds, for checks that nothing is left behind.
struct ProcessResources {
    int Descriptors = 0;
    int Threads = 0;
    int Children = 0;      // processes whose parent is this one, zombies included
    long ResidentKiB = 0;  // resident memory now
    long PeakKiB = 0;      // the most resident memory so far
};
ProcessResources CurrentResources();
// The same once it has settled: threads that were just joined may take a
// moment to leave the process, and children a moment to be reaped.
ProcessResources SettledResources();

}  // namespace TestSupport
