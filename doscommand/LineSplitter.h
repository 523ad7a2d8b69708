#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

// A line that reaches this length is completed there, as if a line break
// followed: a program that floods output without line breaks must not make
// the line, and the partial reports that carry it again after every read,
// grow without end.
inline constexpr std::size_t MaxLineLength = 1024 * 1024;

// Cuts one read of a program's output into lines, carrying the unfinished
// line from read to read in `line`. LF, CR, and CR LF within the read are
// line breaks; a NUL byte is dropped; every other byte is text. Each
// completed line goes to `complete(std::string_view)`, valid only during
// the call: a line that lies whole in the read is handed on where it lies,
// without a copy, and `line` keeps its memory for the lines to come.
// `stop()` is asked before each stretch of text: once it says yes, the rest
// of the read is dropped.
template <class Stop, class Complete>
void SplitIntoLines(std::string& line, const char* data, std::size_t size, Stop&& stop, Complete&& complete,
                    std::size_t maxLength = MaxLineLength)
{
    const char* at = data;
    const char* const end = data + size;
    auto completeLine = [&] {
        complete(std::string_view(line));
        line.clear();
    };
    // Where the next LF, CR and NUL are: each is looked for again only once
    // passed, so that the read is scanned once for each of them.
    auto find = [&](char byte) {
        const void* hit = std::memchr(at, byte, end - at);
        return hit ? static_cast<const char*>(hit) : end;
    };
    const char* nextLf = find('\n');
    const char* nextCr = find('\r');
    const char* nextNul = find('\0');
    while (at < end && !stop()) {
        if (nextLf < at)
            nextLf = find('\n');
        if (nextCr < at)
            nextCr = find('\r');
        if (nextNul < at)
            nextNul = find('\0');
        // The text up to the next LF, CR or NUL.
        const char* const textEnd = std::min({nextLf, nextCr, nextNul});
        const bool lineBreak = textEnd < end && *textEnd != '\0';
        if (line.empty() && lineBreak && std::size_t(textEnd - at) < maxLength) {
            complete(std::string_view(at, textEnd - at));
            at = textEnd;
        } else {
            while (at < textEnd) {
                const std::size_t take = std::min<std::size_t>(maxLength - line.size(), textEnd - at);
                line.append(at, take);
                at += take;
                if (line.size() == maxLength)
                    completeLine();
            }
            if (at == end)
                break;
            if (lineBreak)
                completeLine();
        }
        if (*at == '\r' && at + 1 < end && at[1] == '\n')
            ++at;
        ++at;  // the break, or a NUL, which is dropped
    }
}
