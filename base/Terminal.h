#pragma once

// A password typed at a terminal is not shown: while an object of this class
// lives, the descriptor, when it is a terminal, does not echo what is typed.
// Anything else (a pipe, a file) is left as it is.
class TEchoOff {
public:
    explicit TEchoOff(int descriptor);
    ~TEchoOff();  // echo as before
    TEchoOff(const TEchoOff&) = delete;
    TEchoOff& operator=(const TEchoOff&) = delete;

    // Whether the descriptor is a terminal, someone typing.
    bool Terminal() const { return terminal; }

private:
    int descriptor;
    bool terminal = false;
    bool changed = false;
    unsigned before = 0;  // the local modes
};
