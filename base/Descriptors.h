#pragma once

#include <utility>

namespace Platform {

// Owns one file descriptor and closes it when it goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd; }
    bool Valid() const { return fd >= 0; }
    int Release() { return std::exchange(fd, -1); }
    void Reset(int newFd = -1);

private:
    int fd = -1;
};

// An anonymous pipe; both ends are closed on exec, so a child started by
// anyone else never inherits them.
struct Pipe {
    UniqueFd ReadEnd;
    UniqueFd WriteEnd;
};

// Creates a pipe; raises EInOutError when the system has none to give.
Pipe CreatePipe();

// A counter another thread can raise to wake a poll on Descriptor().
class WakeEvent {
public:
    WakeEvent();  // raises EInOutError when no eventfd can be had
    void Signal() const;
    void Drain() const;  // takes back every signal so far
    int Descriptor() const { return fd.Get(); }

private:
    UniqueFd fd;
};

// Sets O_NONBLOCK on a descriptor.
void MakeNonBlocking(int fd);

// Raises this process's soft limit of open descriptors to its hard limit.
void RaiseDescriptorLimit();

}  // namespace Platform
