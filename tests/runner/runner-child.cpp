// A console program for the runner's tests and benchmark. It carries out its
// arguments in order, each a step:
//   write TEXT       writes TEXT, with \n \r \t \0 \\ and \xHH unescaped
//   sleep MS         sleeps
//   exit CODE        ends at once with that exit code
//   signal N         ends by signal N
//   echo             copies standard input to standard output until its end
//   wait             reads one byte of standard input (a go-ahead)
//   read N           reads N bytes of standard input, then writes "in HEX\n"
//   flood BYTES LEN  writes BYTES bytes of lines LEN bytes long, line feed
//                    included; LEN 0 writes no line break at all
//   argv             writes "arg HEX\n" for each of its arguments
//   fds              writes "fds" and its open descriptors, then "\n"
//   pid | nice | session   writes "pid N", "nice N", "session yes|no"
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <vector>

namespace {

void writeAll(const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t count = ::write(STDOUT_FILENO, data, size);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            std::exit(3);
        data += count;
        size -= count;
    }
}

void writeText(const std::string& text)
{
    writeAll(text.data(), text.size());
}

std::string unescape(const char* text)
{
    std::string bytes;
    for (const char* at = text; *at; ++at) {
        if (*at != '\\' || !at[1]) {
            bytes += *at;
            continue;
        }
        switch (*++at) {
            case 'n':
                bytes += '\n';
                break;
            case 'r':
                bytes += '\r';
                break;
            case 't':
                bytes += '\t';
                break;
            case '0':
                bytes += '\0';
                break;
            case 'x':
                bytes += static_cast<char>(std::strtol(std::string(at + 1, 2).c_str(), nullptr, 16));
                at += 2;
                break;
            default:
                bytes += *at;
        }
    }
    return bytes;
}

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char c : bytes) {
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

void flood(long long total, long long lineLength)
{
    std::string chunk;
    for (int i = 0; chunk.size() < 65536; ++i)
        chunk += (lineLength > 0 && (i + 1) % lineLength == 0) ? '\n' : static_cast<char>('a' + i % 26);
    if (lineLength > 0)
        chunk.resize(chunk.size() / lineLength * lineLength);
    while (total > 0) {
        const std::size_t size = std::min<long long>(total, chunk.size());
        writeAll(chunk.data(), size);
        total -= size;
    }
}

}  // namespace

int main(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "0";
        if (step == "write") {
            writeText(unescape(value));
            ++i;
        } else if (step == "sleep") {
            ::usleep(std::atoi(value) * 1000);
            ++i;
        } else if (step == "exit") {
            return std::atoi(value);
        } else if (step == "signal") {
            std::signal(std::atoi(value), SIG_DFL);
            std::raise(std::atoi(value));
        } else if (step == "echo") {
            char buffer[4096];
            ssize_t count;
            while ((count = ::read(STDIN_FILENO, buffer, sizeof buffer)) != 0) {
                if (count > 0)
                    writeAll(buffer, count);
                else if (errno != EINTR)
                    break;
            }
        } else if (step == "wait") {
            char go;
            while (::read(STDIN_FILENO, &go, 1) < 0 && errno == EINTR) {
            }
        } else if (step == "read") {
            std::string bytes(std::atoi(value), '\0');
            std::size_t got = 0;
            while (got < bytes.size()) {
                const ssize_t count = ::read(STDIN_FILENO, bytes.data() + got, bytes.size() - got);
                if (count <= 0)
                    break;
                got += count;
            }
            bytes.resize(got);
            writeText("in " + hex(bytes) + "\n");
            ++i;
        } else if (step == "flood") {
            flood(std::atoll(value), i + 2 < argc ? std::atoll(argv[i + 2]) : 0);
            i += 2;
        } else if (step == "argv") {
            for (int j = 0; j < argc; ++j)
                writeText("arg " + hex(argv[j]) + "\n");
        } else if (step == "fds") {
            std::string list = "fds";
            DIR* folder = ::opendir("/proc/self/fd");
            while (dirent* entry = folder ? ::readdir(folder) : nullptr) {
                if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != ::dirfd(folder))
                    list += std::string(" ") + entry->d_name;
            }
            if (folder)
                ::closedir(folder);
            writeText(list + "\n");
        } else if (step == "pid") {
            writeText("pid " + std::to_string(::getpid()) + "\n");
        } else if (step == "nice") {
            errno = 0;
            writeText("nice " + std::to_string(::getpriority(PRIO_PROCESS, 0)) + "\n");
        } else if (step == "session") {
            const bool own = ::getsid(0) == ::getpid() && ::getpgrp() == ::getpid();
            writeText(std::string("session ") + (own ? "yes" : "no") + "\n");
        } else {
            std::fprintf(stderr, "unknown step %s\n", argv[i]);
            return 2;
        }
    }
    return 0;
}
