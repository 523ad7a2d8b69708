#include "platform/Files.h"

#include "platform/Exceptions.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace Files {
namespace {

[[noreturn]] void raise(const std::string& what, const std::string& path, int error)
{
    throw EInOutError(what + " \"" + path + "\": " + std::strerror(error), error);
}

// Owns one descriptor for the length of a size query.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }
    int release() { return std::exchange(fd, -1); }

private:
    int fd;
};

}  // namespace

std::int64_t SizeOfWritableFile(const std::string& path)
{
    // O_NONBLOCK: a fifo or device picked as input must not hang the window.
    Descriptor file(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.get() < 0)
        raise("Cannot open", path, errno);
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        raise("Cannot read the size of", path, errno);
    if (::close(file.release()) != 0)
        raise("Cannot close", path, errno);
    return status.st_size;
}

void DeleteFileQuietly(const std::string& path)
{
    ::unlink(path.c_str());
}

TTextFile::TTextFile(const std::string& path) : path(path)
{
    descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    if (descriptor < 0)
        raise("Cannot create", path, errno);
}

TTextFile::~TTextFile()
{
    if (descriptor >= 0)
        ::close(descriptor);
}

void TTextFile::Write(const std::string& text)
{
    writeAll(text.data(), text.size());
}

void TTextFile::WriteLine(const std::string& text)
{
    Write(text);
    writeAll("\r\n", 2);
}

void TTextFile::Close()
{
    const int fd = std::exchange(descriptor, -1);
    if (fd >= 0 && ::close(fd) != 0)
        raise("Cannot close", path, errno);
}

void TTextFile::writeAll(const char* data, std::size_t size)
{
    if (descriptor < 0)
        raise("Cannot write to", path, EBADF);
    while (size > 0) {
        const ssize_t written = ::write(descriptor, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            raise("Cannot write to", path, errno);
        }
        data += written;
        size -= std::size_t(written);
    }
}

}  // namespace Files
