#include "base/ChildProcess.h"
#include "base/Sanitizers.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
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

// What a child is started with, all of it ready before the clone; `error`
// is the child's answer when it cannot run the program.
struct Launch {
    pid_t parent;
    const char* path;
    char* const* argv;
    char* const* environment;
    const HandedOver* handedOver;
    std::size_t handedOverCount;
    int highestTarget;  // the highest number a descriptor takes in the child
    int niceValue;
    int error = 0;
    int answer = -1;  // where a child of its own memory writes `error`
};

// The kernel's own layout of a signal action on x86-64 and arm64 (the
// library's differs): the child resets its handlers by the raw system call,
// and other processors lay the action out otherwise (in another order, or
// without the restorer), so they need a layout of their own here.
#if !defined(__x86_64__) && !defined(__aarch64__)
#error "KernelSignalAction holds the kernel's layout of x86-64 and arm64 only"
#endif
struct KernelSignalAction {
    void (*handler)(int);
    unsigned long flags;
    void (*restorer)();
    std::uint64_t mask;
};

// The child, until it runs the program: it shares our memory while the
// thread that made it waits, so it uses raw system calls only (nothing that
// allocates, locks, or that a sanitizer keeps books on) and answers through
// launch.error.
// The attribute spelling that GCC and clang both honour.
#define CHILD_SIDE __attribute__((no_sanitize("address", "thread", "undefined")))

[[noreturn]] CHILD_SIDE void giveUp(Launch& launch)
{
    launch.error = errno ? errno : ENOEXEC;
    if (launch.answer >= 0)
        ::syscall(SYS_write, launch.answer, &launch.error, sizeof launch.error);
    ::syscall(SYS_exit, 127);
    __builtin_unreachable();
}

CHILD_SIDE int becomeProgram(void* argument)
{
    Launch& launch = *static_cast<Launch*>(argument);
    // The child is killed when we end, however we end. Should we have ended
    // before the request was made, it came too late: the child goes at once.
    if (::syscall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0)
        giveUp(launch);
    if (::syscall(SYS_getppid) != launch.parent)
        ::syscall(SYS_exit, 127);
    ::syscall(SYS_setsid);
    // A descriptor to be handed over that sits where another one goes moves
    // out of the way first (its copy goes at the exec).
    int sources[ChildProcess::kMaxHandedOver];
    for (std::size_t i = 0; i < launch.handedOverCount; ++i) {
        const HandedOver& given = launch.handedOver[i];
        sources[i] = given.ours;
        if (given.ours != given.theirs && given.ours <= launch.highestTarget) {
            sources[i] = int(::syscall(SYS_fcntl, given.ours, F_DUPFD_CLOEXEC, launch.highestTarget + 1));
            if (sources[i] < 0)
                giveUp(launch);
        }
    }
    // Every descriptor goes at the exec, also those others opened without
    // close-on-exec, but the ones handed over: put in their places, or, when
    // already there, stripped of the flag.
    if (::syscall(SYS_close_range, 0, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        rlimit limit{};
        ::syscall(SYS_prlimit64, 0, RLIMIT_NOFILE, nullptr, &limit);
        for (rlim_t fd = 0; fd < limit.rlim_cur && fd < 65536; ++fd)
            ::syscall(SYS_fcntl, int(fd), F_SETFD, FD_CLOEXEC);
    }
    for (std::size_t i = 0; i < launch.handedOverCount; ++i) {
        const int target = launch.handedOver[i].theirs;
        if (sources[i] == target ? ::syscall(SYS_fcntl, target, F_SETFD, 0) != 0
                                 : ::syscall(SYS_dup3, sources[i], target, 0) != target)
            giveUp(launch);
    }
    // Our handlers are no business of the child's, and it starts with no
    // signal blocked (it was made with all of them blocked) and SIGPIPE at its
    // default even when we ignore it; other ignored signals stay ignored, as
    // across any exec.
    for (int signal = 1; signal < NSIG; ++signal) {
        KernelSignalAction current{};
        const KernelSignalAction byDefault{SIG_DFL, 0, nullptr, 0};
        if (::syscall(SYS_rt_sigaction, signal, nullptr, &current, sizeof current.mask) == 0 &&
            current.handler != SIG_DFL && (current.handler != SIG_IGN || signal == SIGPIPE))
            ::syscall(SYS_rt_sigaction, signal, &byDefault, nullptr, sizeof byDefault.mask);
    }
    {
        const std::uint64_t none = 0;
        ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &none, nullptr, sizeof none);
    }
    if (launch.niceValue != 0)
        ::syscall(SYS_setpriority, PRIO_PROCESS, 0, launch.niceValue);  // a refusal to raise it is ignored
    ::syscall(SYS_execve, launch.path, launch.argv, launch.environment);
    giveUp(launch);
}

#undef CHILD_SIDE

// Starts the child on the calling thread, which waits until the child runs
// the program or gives up; the child's id, or nothing when it gave up.
std::optional<pid_t> startOnThisThread(Launch& launch)
{
    launch.error = 0;
#if defined(OZ_THREAD_SANITIZER)
    // ThreadSanitizer takes a child that shares our memory for a fork and
    // rebuilds its books under our running threads, which it then reports
    // as races. Its builds give the child a copy of our memory instead, and
    // the child's answer comes back through a pipe that its exec closes.
    UniqueFd answerRead, answerWrite;
    if (int ends[2]; ::pipe2(ends, O_CLOEXEC) == 0) {
        answerRead = UniqueFd(ends[0]);
        answerWrite = UniqueFd(ends[1]);
    } else {
        return std::nullopt;
    }
    launch.answer = answerWrite.Get();
    const pid_t pid = ::fork();
    if (pid == 0)
        becomeProgram(&launch);
    answerWrite.Reset();
    if (pid < 0)
        return std::nullopt;
    while (::read(answerRead.Get(), &launch.error, sizeof launch.error) < 0 && errno == EINTR) {
    }
#else
    constexpr std::size_t kStackSize = 64 * 1024;
    const std::unique_ptr<char[]> stack(new char[kStackSize]);
    const pid_t pid =
        ::clone(becomeProgram, stack.get() + kStackSize, CLONE_VM | CLONE_VFORK | SIGCHLD, &launch);
    if (pid < 0)
        return std::nullopt;
#endif
    if (launch.error == 0)
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
        // Otherwise it bears the name of the thread that first asked for a child.
        ::pthread_setname_np(::pthread_self(), "child starter");
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

std::vector<char*> ArgumentVector(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    return argv;
}

std::optional<ChildProcess> ChildProcess::Start(const std::string& path,
                                                const std::vector<std::string>& arguments, int input,
                                                int output, int niceValue)
{
    return Start(path, arguments, {{input, 0}, {output, 1}, {output, 2}}, niceValue);
}

std::optional<ChildProcess> ChildProcess::Start(const std::string& path,
                                                const std::vector<std::string>& arguments,
                                                const std::vector<HandedOver>& descriptors, int niceValue)
{
    if (descriptors.size() > kMaxHandedOver) {
        errno = EINVAL;
        return std::nullopt;
    }
    int highestTarget = -1;
    for (const HandedOver& given : descriptors)
        highestTarget = std::max(highestTarget, given.theirs);
    std::vector<char*> argv = ArgumentVector(arguments);
    Launch launch{::getpid(), path.c_str(), argv.data(), environ, descriptors.data(), descriptors.size(),
                  highestTarget, niceValue};

    std::optional<pid_t> pid;
    starter().Run([&] { pid = startOnThisThread(launch); });
    if (!pid) {
        errno = launch.error ? launch.error : EAGAIN;  // no error of the child's: the clone failed
        return std::nullopt;
    }
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

void ChildProcess::WaitForEnd()
{
    while (!reaped) {
        const pid_t result = ::waitpid(pid, &waitStatus, 0);
        if (result == pid || errno != EINTR) {
            if (result != pid)
                waitStatus = -1;
            reaped = true;
        }
    }
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
