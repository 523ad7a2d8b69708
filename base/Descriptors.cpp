#include "base/Descriptors.h"

#include "base/Exceptions.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

namespace Platform {
namespace {

[[noreturn]] void raise(const char* what)
{
    const int error = errno;
    throw EInOutError(std::string(what) + ": " + std::strerror(error), error);
}

}  // namespace

void UniqueFd::Reset(int newFd)
{
    if (fd >= 0)
        ::close(fd);
    fd = newFd;
}

namespace {

// Keeps a descriptor clear of 0, 1 and 2, so that handing pipe ends to a
// child as its standard streams never overwrites another of them, even in a
// process started with a standard stream closed.
UniqueFd aboveStandardStreams(UniqueFd fd)
{
    if (fd.Get() > 2)
        return fd;
    UniqueFd moved(::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 3));
    if (!moved.Valid())
        raise("Cannot create a pipe");
    return moved;
}

}  // namespace

Pipe CreatePipe()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        raise("Cannot create a pipe");
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);
    readEnd = aboveStandardStreams(std::move(readEnd));
    writeEnd = aboveStandardStreams(std::move(writeEnd));
    return Pipe{std::move(readEnd), std::move(writeEnd)};
}

WakeEvent::WakeEvent() : fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (!fd.Valid())
        raise("Cannot create an event");
}

void WakeEvent::Signal() const
{
    const std::uint64_t one = 1;
    // A full counter already wakes every poll; nothing is lost by a failure.
    [[maybe_unused]] const auto written = ::write(fd.Get(), &one, sizeof one);
}

void WakeEvent::Drain() const
{
    std::uint64_t count;
    [[maybe_unused]] const auto read = ::read(fd.Get(), &count, sizeof count);
}

void MakeNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);  // a refusal leaves the limit as it was
    }
}

}  // namespace Platform
