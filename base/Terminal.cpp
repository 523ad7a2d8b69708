#include "base/Terminal.h"

#include <termios.h>
#include <unistd.h>

TEchoOff::TEchoOff(int descriptor) : descriptor(descriptor)
{
    termios modes{};
    terminal = ::isatty(descriptor) == 1 && ::tcgetattr(descriptor, &modes) == 0;
    if (!terminal)
        return;
    before = unsigned(modes.c_lflag);
    // The line still ends at Enter; only the echo goes.
    modes.c_lflag &= ~tcflag_t(ECHO);
    modes.c_lflag |= tcflag_t(ECHONL);
    changed = ::tcsetattr(descriptor, TCSAFLUSH, &modes) == 0;
}

TEchoOff::~TEchoOff()
{
    termios modes{};
    if (!changed || ::tcgetattr(descriptor, &modes) != 0)
        return;
    modes.c_lflag = tcflag_t(before);
    ::tcsetattr(descriptor, TCSAFLUSH, &modes);
}
