#include "Launch.h"

#include "base/Descriptors.h"
#include "base/Exceptions.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe.WriteEnd.Get(), STDOUT_FILENO);
    std::vector<char*> argv = argumentVector(program, arguments);
    pid_t child = -1;
    const int error = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    pipe.WriteEnd.Reset();
    if (error != 0) {
        errno = error;
        return std::nullopt;
    }

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
