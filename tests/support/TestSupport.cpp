#include "support/TestSupport.h"

#include "platform/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace TestSupport {

TempProgramFolder::TempProgramFolder()
{
    QDir(folder.path()).mkpath(QStringLiteral("html/flvs"));
    Platform::SetProgramFolderForTesting(Path());
}

TempProgramFolder::~TempProgramFolder()
{
    Platform::SetProgramFolderForTesting({});
}

std::string TempProgramFolder::Path() const
{
    return folder.path().toLocal8Bit().toStdString() + "/";
}

DialogRecorder::DialogRecorder()
{
    previousMessages = Dialogs::SetMessageHandler([this](const Dialogs::MessageRequest& request) {
        Messages.push_back(request);
        if (OnMessage)
            OnMessage(request);
    });
    previousShell = Dialogs::SetShellOpenHandler(
        [this](const std::string& address) { OpenedAddresses.push_back(address); });
}

DialogRecorder::~DialogRecorder()
{
    Dialogs::SetMessageHandler(std::move(previousMessages));
    Dialogs::SetShellOpenHandler(std::move(previousShell));
}

std::vector<std::string> DialogRecorder::Texts() const
{
    std::vector<std::string> texts;
    for (const auto& message : Messages)
        texts.push_back(message.Text);
    return texts;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qSleep(1);
    }
    return true;
}

namespace {

bool setDacOverride(bool on)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned mask = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    if (on)
        data[0].effective |= (data[0].permitted & mask);
    else
        data[0].effective &= ~mask;
    return syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

RootOverrideOff::RootOverrideOff()
{
    if (geteuid() == 0)
        changed = setDacOverride(false);
}

RootOverrideOff::~RootOverrideOff()
{
    if (changed)
        setDacOverride(true);
}

}  // namespace TestSupport
