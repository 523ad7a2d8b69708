#include "base/Files.h"

#include "base/Exceptions.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Files {
namespace {

[[noreturn]] void raise(const std::string& what, const std::string& path, int error)
{
    throw EInOutError(what + " \"" + path + "\": " + std::strerror(error), error);
}

}  // namespace

std::int64_t SizeOfWritableFile(const std::string& path)
{
    // O_NONBLOCK: a fifo or device picked as input must not hang the window.
    Platform::UniqueFd file(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file.Valid())
        raise("Cannot open", path, errno);
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0)
        raise("Cannot read the size of", path, errno);
    if (::close(file.Release()) != 0)
        raise("Cannot close", path, errno);
    return status.st_size;
}

void DeleteFileQuietly(const std::string& path)
{
    ::unlink(path.c_str());
}

TTextFile::TTextFile(const std::string& path) : path(path)
{
    // Refuse what could not be overwritten in place: a read-only file, a
    // folder, a file in a folder that may not be written.
    const int existing = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (existing >= 0)
        ::close(existing);
    else if (errno != ENOENT)
        raise("Cannot create", path, errno);

    for (unsigned attempt = 0; !descriptor.Valid(); ++attempt) {
        newPath = path + ".new" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        descriptor.Reset(::open(newPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
        if (!descriptor.Valid() && (errno != EEXIST || attempt > 100))
            raise("Cannot create", path, errno);
    }
}

TTextFile::~TTextFile()
{
    discard();
}

void TTextFile::discard()
{
    if (descriptor.Valid()) {
        descriptor.Reset();
        ::unlink(newPath.c_str());
    }
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
    if (!descriptor.Valid())
        raise("Cannot close", path, EBADF);
    // On disk before it replaces the earlier file, so that a crash leaves
    // one or the other, never a torn file.
    if (::fdatasync(descriptor.Get()) != 0) {
        const int error = errno;
        discard();
        raise("Cannot write to", path, error);
    }
    if (::close(descriptor.Release()) != 0) {
        const int error = errno;
        ::unlink(newPath.c_str());
        raise("Cannot close", path, error);
    }
    if (::rename(newPath.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(newPath.c_str());
        raise("Cannot create", path, error);
    }
}

void TTextFile::writeAll(const char* data, std::size_t size)
{
    if (!descriptor.Valid())
        raise("Cannot write to", path, EBADF);
    while (size > 0) {
        const ssize_t written = ::write(descriptor.Get(), data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            discard();
            raise("Cannot write to", path, error);
        }
        data += written;
        size -= std::size_t(written);
    }
}

}  // namespace Files
