#pragma once

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

// A temporary program folder with html/ and html/flvs/, made the program's
// folder for the lifetime of the object.
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
};

// Records every message box, error box and shell "open" instead of showing
// them; an optional reaction runs when a message is "shown", before it is
// "dismissed".
class DialogRecorder {
public:
    DialogRecorder();
    ~DialogRecorder();
    DialogRecorder(const DialogRecorder&) = delete;
    DialogRecorder& operator=(const DialogRecorder&) = delete;

    std::vector<Dialogs::MessageRequest> Messages;
    std::vector<std::string> OpenedAddresses;
    std::function<void(const Dialogs::MessageRequest&)> OnMessage;

    // The texts shown so far, in order.
    std::vector<std::string> Texts() const;

private:
    Dialogs::MessageHandler previousMessages;
    Dialogs::ShellOpenHandler previousShell;
};

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

}  // namespace TestSupport
