#include "platform/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string_view>
#include <sys/prctl.h>
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
// for; children still running when the program ends end with it (below).
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

// What a child is started with, all of it ready before the fork.
struct Launch {
    pid_t parent;
    const char* path;
    char* const* argv;
    int input;
    int output;
    int niceValue;
};

// Makes `fd` the descriptor `target`, open across exec.
bool placeAt(int fd, int target)
{
    if (fd == target)
        return ::fcntl(fd, F_SETFD, 0) == 0;
    return ::dup2(fd, target) == target;
}

// The child's side, between fork and exec: system calls only, nothing that
// allocates or takes a lock. On failure the error number goes to `report`.
[[noreturn]] void becomeProgram(const Launch& launch, int report)
{
    // The child is killed when we end, however we end. Should we have ended
    // before the request was made, it came too late: the child goes at once.
    const bool killedWithUs = ::prctl(PR_SET_PDEATHSIG, SIGKILL) == 0;
    if (killedWithUs && ::getppid() != launch.parent)
        ::_exit(127);
    ::setsid();
    if (killedWithUs && placeAt(launch.input, STDIN_FILENO) && placeAt(launch.output, STDOUT_FILENO) &&
        placeAt(launch.output, STDERR_FILENO)) {
        // Descriptors others opened without close-on-exec stay behind as
        // well; the report pipe stays open until the exec.
        if (::close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
            rlimit limit{};
            ::getrlimit(RLIMIT_NOFILE, &limit);
            for (rlim_t fd = STDERR_FILENO + 1; fd < limit.rlim_cur && fd < 65536; ++fd)
                ::fcntl(int(fd), F_SETFD, FD_CLOEXEC);
        }
        // Our handlers are no business of the child's, and it starts with no
        // signal blocked and SIGPIPE at its default even when we ignore it;
        // other ignored signals stay ignored, as across any exec.
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        for (int signal = 1; signal < NSIG; ++signal) {
            struct sigaction current {};
            if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_DFL &&
                (current.sa_handler != SIG_IGN || signal == SIGPIPE))
                ::sigaction(signal, &byDefault, nullptr);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (launch.niceValue != 0)
            ::setpriority(PRIO_PROCESS, 0, launch.niceValue);  // a refusal to raise it is ignored
        ::execve(launch.path, launch.argv, environ);
    }
    const int error = errno;
    [[maybe_unused]] const auto written = ::write(report, &error, sizeof error);
    ::_exit(127);
}

// Forks and execs on the calling thread; the child's id once it runs the
// program, nothing when it could not.
std::optional<pid_t> startOnThisThread(const Launch& launch)
{
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return std::nullopt;
    UniqueFd reportRead(report[0]);
    UniqueFd reportWrite(report[1]);
    const pid_t pid = ::fork();
    if (pid == 0)
        becomeProgram(launch, reportWrite.Get());
    if (pid < 0)
        return std::nullopt;
    reportWrite.Reset();
    // The pipe closes at the exec; an error number comes before an exec that failed.
    int error = 0;
    ssize_t count;
    do
        count = ::read(reportRead.Get(), &error, sizeof error);
    while (count < 0 && errno == EINTR);
    if (count == 0)
        return pid;
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return std::nullopt;
}

// Starts every child from one thread that lives as long as the program. A
// child asks the system to kill it when the thread that started it ends,
// which is the one way that holds when we are killed with no chance to clean
// up; a runner's worker, though, may end before its child does (a time limit
// leaves the child running), so it cannot be that thread.
class Starter {
public:
    Starter() : thread([this] { serve(); }) {}
    ~Starter()
    {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        requested.notify_all();
        thread.join();
    }

    // Runs `task` on the starter's thread and returns when it is done.
    void Run(const std::function<void()>& task)
    {
        std::lock_guard oneAtATime(callers);
        std::unique_lock lock(mutex);
        pending = &task;
        requested.notify_all();
        done.wait(lock, [this] { return pending == nullptr; });
    }

private:
    void serve()
    {
        // Signals are for the program's other threads; children start with
        // their own mask.
        sigset_t all;
        sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, nullptr);
        std::unique_lock lock(mutex);
        for (;;) {
            requested.wait(lock, [this] { return pending != nullptr || stopping; });
            if (!pending)
                return;
            (*pending)();
            pending = nullptr;
            done.notify_all();
        }
    }

    std::mutex callers;
    std::mutex mutex;
    std::condition_variable requested;
    std::condition_variable done;
    const std::function<void()>* pending = nullptr;
    bool stopping = false;
    std::thread thread;
};

Starter& starter()
{
    static Starter instance;
    return instance;
}

}  // namespace

std::string FindProgram(const std::string& name, const std::string& programFolder)
{
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return isExecutableFile(name) ? name : std::string();

    std::vector<std::string> folders{programFolder, currentFolder()};
    const char* path = std::getenv("PATH");
    const std::string_view list = path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t begin = 0; begin <= list.size();) {
        const std::size_t end = std::min(list.find(':', begin), list.size());
        const std::string_view folder = list.substr(begin, end - begin);
        // An empty entry of PATH stands for the current folder.
        folders.push_back(folder.empty() ? std::string("./") : std::string(folder) + '/');
        begin = end + 1;
    }
    for (const std::string& folder : folders) {
        if (folder.empty())
            continue;
        const std::string candidate = folder + name;
        if (isExecutableFile(candidate))
            return candidate;
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
    // Everything the child needs is made here: between fork and exec it
    // may not allocate.
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const Launch launch{::getpid(), path.c_str(), argv.data(), input, output, niceValue};

    std::optional<pid_t> pid;
    starter().Run([&] { pid = startOnThisThread(launch); });
    if (!pid)
        return std::nullopt;
    // Safe from pid reuse: the child is ours and not reaped yet.
    UniqueFd endDescriptor(static_cast<int>(::syscall(SYS_pidfd_open, *pid, 0)));
    return ChildProcess(*pid, std::move(endDescriptor));
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
