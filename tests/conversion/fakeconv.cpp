// A converter that does what a test tells it, for the cases the real one
// cannot produce on demand. It takes the real converter's command line
// (conv -i INPUT ... -y OUTPUT) and follows the steps in the environment
// variable FAKECONV, separated by ';':
//   say:TEXT      write TEXT and a line break on standard error
//   print:TEXT    write TEXT without a line break on standard output
//   create        create the output file, empty
//   write:N       append N bytes to the output
//   size:N        make the output exactly N bytes long (sparse)
//   sleep:MS      pause
//   waitfor:PATH  pause until PATH exists
//   touch:PATH    create PATH
//   args:PATH     write the arguments to PATH, each ended by a NUL byte
//   pid:PATH      write the process id to PATH
//   watchdog      pause until someone has opened the output for writing and
//                 closed it again (the job's size check does)
//   flood:N       write N bytes without a line break on standard output
//   garbage       write a length line among NUL bytes and invalid UTF-8
//   crash         die of SIGSEGV
//   hang          sleep until killed
//   exit:CODE     end with CODE (the default end is 0)
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string output;

void pause(long milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written <= 0)
            std::exit(3);
        data += written;
        size -= std::size_t(written);
    }
}

void step(const std::string& command, const std::string& argument)
{
    if (command == "say") {
        const std::string line = argument + "\n";
        writeAll(2, line.data(), line.size());
    } else if (command == "print") {
        writeAll(1, argument.data(), argument.size());
    } else if (command == "create") {
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            std::exit(4);
        ::close(fd);
    } else if (command == "write") {
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const std::string bytes(std::stoul(argument), 'F');
        writeAll(fd, bytes.data(), bytes.size());
        ::close(fd);
    } else if (command == "size") {
        if (::truncate(output.c_str(), std::stoll(argument)) != 0) {
            const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT, 0644);
            if (fd < 0 || ::ftruncate(fd, std::stoll(argument)) != 0)
                std::exit(5);
            ::close(fd);
        }
    } else if (command == "sleep") {
        pause(std::stol(argument));
    } else if (command == "waitfor") {
        struct stat status {};
        while (::stat(argument.c_str(), &status) != 0)
            pause(5);
    } else if (command == "pid") {
        std::ofstream(argument) << ::getpid();
    } else if (command == "watchdog") {
        const int watcher = ::inotify_init1(IN_CLOEXEC);
        if (watcher < 0 || ::inotify_add_watch(watcher, output.c_str(), IN_CLOSE_WRITE) < 0)
            std::exit(6);
        alignas(inotify_event) char events[4096];
        if (::read(watcher, events, sizeof events) <= 0)
            std::exit(7);
        ::close(watcher);
    } else if (command == "touch") {
        std::ofstream(argument).put('x');
    } else if (command == "flood") {
        const std::string chunk(65536, 'x');
        for (unsigned long left = std::stoul(argument); left > 0;) {
            const std::size_t now = left < chunk.size() ? left : chunk.size();
            writeAll(1, chunk.data(), now);
            left -= now;
        }
    } else if (command == "garbage") {
        static const char bytes[] =
            "\0\xff\xfe junk \xc3\x28 \0  Duration: 00:00:04.00, start\0\n\xed\xa0\x80\r\n";
        writeAll(2, bytes, sizeof bytes - 1);
    } else if (command == "crash") {
        std::raise(SIGSEGV);
    } else if (command == "hang") {
        for (;;)
            pause(1000);
    } else if (command == "exit") {
        std::exit(std::atoi(argument.c_str()));
    }
}

}  // namespace

int main(int argc, char* argv[])
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i)
        if (arguments[i] == "-y")
            output = arguments[i + 1];

    const char* script = std::getenv("FAKECONV");
    std::string steps = script ? script : "";
    std::size_t start = 0;
    while (start <= steps.size()) {
        std::size_t end = steps.find(';', start);
        if (end == std::string::npos)
            end = steps.size();
        const std::string item = steps.substr(start, end - start);
        const std::size_t colon = item.find(':');
        const std::string command = item.substr(0, colon);
        const std::string argument = colon == std::string::npos ? "" : item.substr(colon + 1);
        if (command == "args") {
            std::ofstream file(argument, std::ios::binary);
            for (const std::string& a : arguments)
                file << a << '\0';
        } else if (!command.empty()) {
            step(command, argument);
        }
        start = end + 1;
    }
    return 0;
}
