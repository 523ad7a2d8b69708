#include "Launch.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Conv {

namespace {

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd; }
    void reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

private:
    int fd;
};

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

std::optional<std::string> FindOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        // An empty entry means the current folder.
        std::string folder = end > start ? folders.substr(start, end - start) : ".";
        std::string candidate = folder + "/" + name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

std::optional<Captured> RunCapturingOutput(const std::string& program,
                                           const std::vector<std::string>& arguments)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return std::nullopt;
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    std::vector<char*> argv = argumentVector(program, arguments);
    pid_t child = -1;
    const int error = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.reset();
    if (error != 0) {
        errno = error;
        return std::nullopt;
    }

    Captured result;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(readEnd.get(), buffer, sizeof buffer);
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
