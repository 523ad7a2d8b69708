// The runner's line splitter on any output cut into any reads: it gives the
// lines a byte-by-byte reading gives, and the same lines as one single read
// but for the one difference reads may make: a CR that ends a read and an LF
// that begins the next are two breaks, not one.
#include "doscommand/LineSplitter.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Lines {
    std::vector<std::string> Complete;
    std::string Pending;
};

// The byte rules read one byte at a time, as they are worded.
void referenceRead(Lines& lines, const std::string& read, std::size_t maxLength)
{
    for (std::size_t i = 0; i < read.size(); ++i) {
        const char c = read[i];
        if (c == '\0')
            continue;
        if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < read.size() && read[i + 1] == '\n')
                ++i;
            lines.Complete.push_back(lines.Pending);
            lines.Pending.clear();
            continue;
        }
        lines.Pending += c;
        if (lines.Pending.size() == maxLength) {
            lines.Complete.push_back(lines.Pending);
            lines.Pending.clear();
        }
    }
}

void splitterRead(Lines& lines, const std::string& read, std::size_t maxLength)
{
    SplitIntoLines(
        lines.Pending, read.data(), read.size(), [] { return false; },
        [&](std::string_view line) { lines.Complete.emplace_back(line); }, maxLength);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first byte sets the line length limit, the second seeds the read
    // sizes; the rest is the output.
    const std::size_t maxLength = 1 + data[0] % 64;
    std::uint32_t seed = data[1] + 1;
    const std::string output(reinterpret_cast<const char*>(data) + 2, size - 2);

    std::vector<std::string> reads;
    for (std::size_t at = 0; at < output.size();) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t length = 1 + (seed >> 16) % 17;
        reads.push_back(output.substr(at, length));
        at += length;
    }

    Lines split, reference, whole;
    for (const std::string& read : reads) {
        splitterRead(split, read, maxLength);
        referenceRead(reference, read, maxLength);
    }
    splitterRead(whole, output, maxLength);

    if (split.Complete != reference.Complete || split.Pending != reference.Pending)
        std::abort();
    for (const std::string& line : split.Complete)
        if (line.size() > maxLength || line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            std::abort();

    // One read gives the same lines, once the empty lines that a CR LF
    // split between two reads adds are taken out.
    std::vector<std::string> expected = whole.Complete;
    std::size_t extra = 0;
    for (std::size_t r = 0; r + 1 < reads.size(); ++r) {
        if (!reads[r].empty() && reads[r].back() == '\r' && reads[r + 1].front() == '\n')
            ++extra;
    }
    if (split.Complete.size() != expected.size() + extra || split.Pending != whole.Pending)
        std::abort();
    std::vector<std::string> nonEmptySplit, nonEmptyWhole;
    for (const auto& line : split.Complete)
        if (!line.empty())
            nonEmptySplit.push_back(line);
    for (const auto& line : expected)
        if (!line.empty())
            nonEmptyWhole.push_back(line);
    if (nonEmptySplit != nonEmptyWhole)
        std::abort();
    return 0;
}
