#pragma once

#include "base/Descriptors.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace Platform {

// Where the program of a command line is found. A name holding '/' is a path
// as it stands; a bare name is looked for in the program folder, then the
// current folder, then each folder of PATH. Only executable regular files
// count. Empty when there is none.
std::string FindProgram(const std::string& name, const std::string& programFolder);

// The first executable regular file called `name` in a folder of PATH, an
// empty entry standing for the current folder. Empty when there is none.
std::string FindOnPath(const std::string& name);

// The nice value standing for a process priority class: idle (64) 19, below
// normal (16384) 10, normal (32) 0, above normal (32768) -5, high (128) -10,
// realtime (256) -20. Any other value counts as normal.
int NiceValueForPriorityClass(std::uint32_t priorityClass);

// argv for exec: pointers into `arguments` (the first is the program's own
// name), which must outlive the result, ended by a null pointer.
std::vector<char*> ArgumentVector(const std::vector<std::string>& arguments);

// One descriptor a child is given: ours, and the number it bears in the child.
struct HandedOver {
    int ours;
    int theirs;
};

// A child process in a session and process group of its own. It inherits the
// descriptors handed over at the start and no other. The object reaps the
// child: at once when it has ended, otherwise by handing it to a reaper that
// waits for its end, so that no zombie stays behind whatever the owner does.
// The child is killed when this program ends, however it ends (a crash or
// SIGKILL included); the system drops that request only for a set-user-ID
// program. Every child of the program starts here.
class ChildProcess {
public:
    static constexpr std::size_t kMaxHandedOver = 8;

    // Starts `path` with `arguments` (the first is the program's own name);
    // `output` takes both standard output and standard error. A nice value
    // other than 0 is set before the program runs; a refusal to raise the
    // priority is ignored. Empty when the program cannot be started, errno
    // saying why.
    static std::optional<ChildProcess> Start(const std::string& path,
                                             const std::vector<std::string>& arguments, int input, int output,
                                             int niceValue);
    // The same with the descriptors given one by one (at most
    // kMaxHandedOver, each number in the child once).
    static std::optional<ChildProcess> Start(const std::string& path,
                                             const std::vector<std::string>& arguments,
                                             const std::vector<HandedOver>& descriptors, int niceValue);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // Whether the child has ended; reaps it when it has. Never blocks.
    bool HasEnded();
    // Waits until the child has ended, and reaps it.
    void WaitForEnd();
    // Once HasEnded(): the child's exit code, or 128 plus the signal that
    // ended it. Empty while it runs or when its end could not be read.
    std::optional<int> ExitCode() const;
    // SIGKILL to the child's whole process group, while the child is unreaped
    // (so its group id cannot belong to anyone else yet).
    void KillGroup();
    // Readable once the child has ended (a pidfd); -1 on kernels without one.
    int EndDescriptor() const { return endDescriptor.Get(); }
    pid_t Pid() const { return pid; }

private:
    ChildProcess(pid_t pid, UniqueFd endDescriptor) : pid(pid), endDescriptor(std::move(endDescriptor)) {}

    pid_t pid = -1;
    bool reaped = false;
    int waitStatus = -1;
    UniqueFd endDescriptor;
};

}  // namespace Platform
