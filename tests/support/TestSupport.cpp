#include "support/TestSupport.h"

#include "platform/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace TestSupport {

TempProgramFolder::TempProgramFolder()
{
    QDir(folder.path()).mkpath(QStringLiteral("html/flvs"));
    Platform::SetProgramFolderForTesting(Path());
    previousCurrent = QDir::currentPath();
    QDir::setCurrent(folder.path());
}

TempProgramFolder::~TempProgramFolder()
{
    QDir::setCurrent(previousCurrent);
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
    previousChoice = Dialogs::SetChoiceHandler([this](const Dialogs::ChoiceRequest& request) {
        Choices.push_back(request);
        return OnChoice ? OnChoice(request) : request.Escape;
    });
}

DialogRecorder::~DialogRecorder()
{
    Dialogs::SetMessageHandler(std::move(previousMessages));
    Dialogs::SetShellOpenHandler(std::move(previousShell));
    Dialogs::SetChoiceHandler(std::move(previousChoice));
}

std::vector<std::string> DialogRecorder::Texts() const
{
    std::vector<std::string> texts;
    for (const auto& message : Messages)
        texts.push_back(message.Text);
    return texts;
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

namespace {

long statusValue(const QByteArray& status, const char* key)
{
    for (const QByteArray& line : status.split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(qstrlen(key))).trimmed().split(' ').first().toLong();
    return 0;
}

}  // namespace

ProcessResources CurrentResources()
{
    ProcessResources resources;
    resources.Descriptors =
        int(QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
    resources.Threads = int(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
    const QByteArray status = ReadFile("/proc/self/status");
    resources.ResidentKiB = statusValue(status, "VmRSS:");
    resources.PeakKiB = statusValue(status, "VmHWM:");
    const QByteArray self = QByteArray::number(::getpid());
    for (const QString& pid : QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs)) {
        const QByteArray stat = ReadFile("/proc/" + pid + "/stat");
        // pid (name) state ppid ...: the name may hold blanks, so read after its ')'.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1] == self)
            ++resources.Children;
    }
    return resources;
}

ProcessResources SettledResources()
{
    ProcessResources last = CurrentResources();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QTest::qSleep(50);
        const ProcessResources now = CurrentResources();
        const bool same = now.Descriptors == last.Descriptors && now.Threads == last.Threads;
        last = now;
        if (same && now.Children == 0)
            break;
    }
    return last;
}

}  // namespace TestSupport
