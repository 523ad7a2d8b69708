#include "Launch.h"

#include "base/Descriptors.h"
#include "base/Exceptions.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Conv {

namespace {

// argv for exec: pointers into arguments, which must outlive the result.
std::vector<char*> argumentVector(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    return argv;
}

}  // namespace

std::optional<Captured> RunCapturingOutput(const std::string& program,
                                           const std::vector<std::string>& arguments)
{
    Platform::Pipe pipe;
    try {
        pipe = Platform::CreatePipe();
    } catch (const EInOutError& error) {
        errno = error.ErrorCode;
        return std::nullopt;
    }

    std::vector<char*> argv = argumentVector(program, arguments);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        // The probe ends with conv, also when conv is killed; should conv be
        // gone already, it goes at once. (conv has one thread: its child may
        // do more than a child of a threaded program could.)
        const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 && ::getppid() == parent && input >= 0 &&
            ::dup2(input, STDIN_FILENO) == STDIN_FILENO &&
            ::dup2(pipe.WriteEnd.Get(), STDOUT_FILENO) == STDOUT_FILENO) {
            ::execv(program.c_str(), argv.data());
            std::fprintf(stderr, "conv: cannot run %s: %s\n", program.c_str(), std::strerror(errno));
        }
        ::_exit(127);
    }
    pipe.WriteEnd.Reset();
    if (child < 0)
        return std::nullopt;

    Captured result;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(pipe.ReadEnd.Get(), buffer, sizeof buffer);
        if (count > 0)
            result.Output.append(buffer, static_cast<std::size_t>(count));
        else if (count == 0 || errno != EINTR)
            break;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return std::nullopt;
    }
    if (WIFEXITED(status))
        result.ExitStatus = WEXITSTATUS(status);
    return result;
}

void ReplaceProcess(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<char*> argv = argumentVector(program, arguments);
    ::execv(program.c_str(), argv.data());
}

}  // namespace Conv
