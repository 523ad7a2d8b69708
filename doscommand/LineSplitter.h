#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

// A line that reaches this length is completed there, as if a line break
// followed: a program that floods output without line breaks must not make
// the line, and the partial reports that carry it again after every read,
// grow without end.
inline constexpr std::size_t MaxLineLength = 1024 * 1024;

// Cuts one read of a program's output into lines, carrying the unfinished
// line from read to read in `line`. LF, CR, and CR LF within the read are
// line breaks; a NUL byte is dropped; every other byte is text. Each
// completed line goes to `complete(line)`, which must leave `line` empty.
// `stop()` is asked before each stretch of text: once it says yes, the rest
// of the read is dropped.
//
// The bytes at `data` must be followed by a NUL (data[size] == 0), which
// ends the scans at the end of the read.
template <class Stop, class Complete>
void SplitIntoLines(std::string& line, const char* data, std::size_t size, Stop&& stop, Complete&& complete,
                    std::size_t maxLength = MaxLineLength)
{
    const char* at = data;
    const char* const end = data + size;
    while (at < end && !stop()) {
        // The text up to the next CR, LF or NUL.
        const char* const textEnd = at + std::strcspn(at, "\r\n");
        while (at < textEnd) {
            const std::size_t take = std::min<std::size_t>(maxLength - line.size(), textEnd - at);
            line.append(at, take);
            at += take;
            if (line.size() == maxLength)
                complete(line);
        }
        if (at == end)
            break;
        if (*at == '\r' || *at == '\n') {
            if (*at == '\r' && at + 1 < end && at[1] == '\n')
                ++at;
            complete(line);
        }
        ++at;  // the break, or a NUL, which is dropped
    }
}
