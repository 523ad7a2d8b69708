#include "base/Files.h"

#include "base/Exceptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Files {
namespace {

[[noreturn]] void raise(const std::string& what, const std::string& path, int error)
{
    throw EInOutError(what + " \"" + path + "\": " + std::strerror(error), error);
}

// A folder of ours that no one else may enter or plant anything in.
bool closedToOthers(const std::string& folder)
{
    struct stat status {};
    return ::lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() &&
           (status.st_mode & 077) == 0;
}

// Writes all of data; 0, or the error that stopped it.
int writeFully(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        data += written;
        size -= std::size_t(written);
    }
    return 0;
}

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

std::string PrivateFolder()
{
    if (const std::string runtime = environment("XDG_RUNTIME_DIR"); runtime.starts_with('/') && closedToOthers(runtime))
        return runtime;
    std::string cache = environment("XDG_CACHE_HOME");
    if (!cache.starts_with('/')) {
        const std::string home = environment("HOME");
        if (!home.starts_with('/'))
            throw EInOutError("Cannot find a private folder: HOME is not set", ENOENT);
        cache = home + "/.cache";
    }
    if (::mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST)
        raise("Cannot create", cache, errno);
    const std::string folder = cache + "/ombrix-zudodira";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        raise("Cannot create", folder, errno);
    // Made earlier, perhaps more open: closed again, unless it is not ours to close.
    Platform::UniqueFd opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (!opened.Valid() || ::fstat(opened.Get(), &status) != 0)
        raise("Cannot open", folder, errno);
    if (status.st_uid != ::geteuid() || ((status.st_mode & 077) != 0 && ::fchmod(opened.Get(), 0700) != 0))
        raise("Cannot keep others out of", folder, EPERM);
    return folder;
}

TPrivateFile::TPrivateFile(std::string_view prefix, std::string_view suffix, std::string_view content)
{
    std::string name = PrivateFolder() + '/';
    name.append(prefix).append("XXXXXX").append(suffix);
    std::vector<char> pattern(name.begin(), name.end());
    pattern.push_back('\0');
    // O_CREAT | O_EXCL under a new random name, mode 0600.
    Platform::UniqueFd file(::mkostemps(pattern.data(), int(suffix.size()), O_CLOEXEC));
    if (!file.Valid())
        raise("Cannot create", name, errno);
    path = pattern.data();
    if (const int error = writeFully(file.Get(), content.data(), content.size()); error != 0) {
        ::unlink(path.c_str());
        raise("Cannot write to", path, error);
    }
    if (::close(file.Release()) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        raise("Cannot close", path, error);
    }
}

TPrivateFile::~TPrivateFile()
{
    ::unlink(path.c_str());
}

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
    if (const int error = writeFully(descriptor.Get(), data, size); error != 0) {
        discard();
        raise("Cannot write to", path, error);
    }
}

}  // namespace Files
