#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The complete lines of a run, kept without an allocation per line: the
// lines stand back to back in one growing text, found by where each ends.
//
// Only the most recent lines are kept, up to about `limit` bytes, each line
// break counted as a byte (so that a flood of empty lines is bounded too):
// they fill two halves in turn, and once the newer half is full it becomes
// the older one and the oldest lines go, with no byte moved.
class KeptLines {
public:
    explicit KeptLines(std::size_t limit) : halfLimit(limit / 2) {}

    void Add(std::string_view line)
    {
        if (newer.Weight() + line.size() + 1 > halfLimit || newer.text.capacity() < halfLimit)
            makeRoom(line.size() + 1);
        newer.text.append(line);
        newer.ends.push_back(newer.text.size());
    }

    // Forgets every line, and the memory they took.
    void Clear()
    {
        older = {};
        newer = {};
    }

    std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        lines.reserve(older.ends.size() + newer.ends.size());
        older.AppendTo(lines);
        newer.AppendTo(lines);
        return lines;
    }

private:
    struct Half {
        std::string text;
        std::vector<std::size_t> ends;  // where each line ends in `text`

        std::size_t Weight() const { return text.size() + ends.size(); }
        // Keeps the memory for the lines to come.
        void Clear()
        {
            text.clear();
            ends.clear();
        }
        void AppendTo(std::vector<std::string>& lines) const
        {
            std::size_t begin = 0;
            for (const std::size_t end : ends) {
                lines.emplace_back(text, begin, end - begin);
                begin = end;
            }
        }
    };

    void makeRoom(std::size_t lineWeight)
    {
        if (!newer.ends.empty() && newer.Weight() + lineWeight > halfLimit) {
            std::swap(older, newer);
            newer.Clear();
        }
        // Memory never touched costs nothing, where copies on growth would.
        if (newer.text.capacity() < halfLimit)
            newer.text.reserve(halfLimit);
    }

    std::size_t halfLimit;
    Half older;
    Half newer;
};
