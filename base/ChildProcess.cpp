#include "base/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace Platform {
namespace {

bool isExecutableFile(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string currentFolder()
{
    char buffer[4096];
    if (!::getcwd(buffer, sizeof buffer))
        return {};
    return std::string(buffer) + '/';
}

// waitpid without WNOHANG's ambiguity: true when the child is reaped now or
// can no longer be waited for. The wait status, when there is one, goes to
// `status`.
bool reapIfEnded(pid_t pid, int* status = nullptr)
{
    for (;;) {
        const pid_t result = ::waitpid(pid, status, WNOHANG);
        if (result == 0)
            return false;
        if (result != pid && status)
            *status = -1;
        if (result == pid || errno != EINTR)
            return true;
    }
}

// Waits for the ends of children whose owners have let go of them while they
// were still running. Its thread lives only while it has children to wait
// for; children still running when the program ends are left to init.
class Reaper {
public:
    ~Reaper()
    {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.Signal();
        if (thread.joinable())
            thread.join();
    }

    void Adopt(pid_t pid, UniqueFd endDescriptor)
    {
        std::lock_guard lock(mutex);
        children.push_back({pid, std::move(endDescriptor)});
        if (!active) {
            if (thread.joinable())
                thread.join();  // a thread that has found nothing left and is ending
            active = true;
            thread = std::thread([this] { run(); });
        }
        wake.Signal();
    }

private:
    struct Child {
        pid_t pid;
        UniqueFd endDescriptor;
    };

    void run()
    {
        std::vector<pollfd> waits;
        for (;;) {
            bool withoutDescriptor = false;
            {
                std::lock_guard lock(mutex);
                std::erase_if(children, [](const Child& child) { return reapIfEnded(child.pid); });
                if (children.empty() || stopping) {
                    active = false;
                    return;
                }
                waits.assign(1, pollfd{wake.Descriptor(), POLLIN, 0});
                for (const Child& child : children) {
                    if (child.endDescriptor.Valid())
                        waits.push_back({child.endDescriptor.Get(), POLLIN, 0});
                    else
                        withoutDescriptor = true;
                }
            }
            ::poll(waits.data(), waits.size(), withoutDescriptor ? 100 : -1);
            wake.Drain();
        }
    }

    std::mutex mutex;
    std::vector<Child> children;
    bool active = false;
    bool stopping = false;
    WakeEvent wake;
    std::thread thread;
};

Reaper& reaper()
{
    static Reaper instance;
    return instance;
}

}  // namespace

std::string FindProgram(const std::string& name, const std::string& programFolder)
{
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return isExecutableFile(name) ? name : std::string();

    for (const std::string& folder : {programFolder, currentFolder()}) {
        if (!folder.empty() && isExecutableFile(folder + name))
            return folder + name;
    }
    return FindOnPath(name);
}

std::string FindOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    const std::string_view list = path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t begin = 0; begin <= list.size();) {
        const std::size_t end = std::min(list.find(':', begin), list.size());
        const std::string_view folder = list.substr(begin, end - begin);
        const std::string candidate = (folder.empty() ? std::string(".") : std::string(folder)) + '/' + name;
        if (isExecutableFile(candidate))
            return candidate;
        begin = end + 1;
    }
    return {};
}

int NiceValueForPriorityClass(std::uint32_t priorityClass)
{
    switch (priorityClass) {
        case 64:
            return 19;
        case 16384:
            return 10;
        case 32768:
            return -5;
        case 128:
            return -10;
        case 256:
            return -20;
        default:
            return 0;
    }
}

std::optional<ChildProcess> ChildProcess::Start(const std::string& path,
                                                const std::vector<std::string>& arguments, int input,
                                                int output, int niceValue)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
    // Descriptors others opened without close-on-exec stay behind as well.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    // The calling thread may block signals (the runner's worker blocks
    // SIGPIPE) and the program may ignore SIGPIPE: the child starts with
    // neither; other dispositions are inherited as usual.
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return std::nullopt;

    if (niceValue != 0)
        ::setpriority(PRIO_PROCESS, pid, niceValue);
    // Safe from pid reuse: the child is ours and not reaped yet.
    UniqueFd endDescriptor(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    return ChildProcess(pid, std::move(endDescriptor));
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid(std::exchange(other.pid, -1)),
      reaped(other.reaped),
      waitStatus(other.waitStatus),
      endDescriptor(std::move(other.endDescriptor))
{
}

ChildProcess::~ChildProcess()
{
    if (pid <= 0 || HasEnded())
        return;
    try {
        reaper().Adopt(pid, std::move(endDescriptor));
    } catch (...) {
        // Out of memory or threads: the child stays a zombie until we end.
    }
}

bool ChildProcess::HasEnded()
{
    if (!reaped)
        reaped = reapIfEnded(pid, &waitStatus);
    return reaped;
}

std::optional<int> ChildProcess::ExitCode() const
{
    if (!reaped || waitStatus < 0)
        return std::nullopt;
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return std::nullopt;
}

void ChildProcess::KillGroup()
{
    if (!reaped)
        ::kill(-pid, SIGKILL);
}

}  // namespace Platform
