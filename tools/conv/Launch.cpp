#include "Launch.h"

#include "base/ChildProcess.h"
#include "base/Descriptors.h"
#include "base/Exceptions.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Conv {

namespace {

std::vector<std::string> withName(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
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
    const Platform::UniqueFd nothing(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!nothing.Valid())
        return std::nullopt;

    // Started as the program's runner starts its children: the probe ends
    // with conv, also when conv is killed.
    std::optional<Platform::ChildProcess> child = Platform::ChildProcess::Start(
        program, withName(program, arguments),
        {{nothing.Get(), STDIN_FILENO}, {pipe.WriteEnd.Get(), STDOUT_FILENO}, {STDERR_FILENO, STDERR_FILENO}},
        0);
    pipe.WriteEnd.Reset();
    if (!child)
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
    child->WaitForEnd();
    result.ExitStatus = child->ExitCode().value_or(-1);
    return result;
}

void ReplaceProcess(const std::string& program, const std::vector<std::string>& arguments)
{
    const std::vector<std::string> all = withName(program, arguments);
    std::vector<char*> argv = Platform::ArgumentVector(all);
    ::execv(program.c_str(), argv.data());
}

}  // namespace Conv
