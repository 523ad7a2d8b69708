// The clip length of any converter output: decimal digits of a length the
// layout can spell, and a complete occurrence appended always wins.
#include "app/ClipInfo.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string output(reinterpret_cast<const char*>(data), size);
    const std::string length = ClipLengthFromOutput(output);

    if (length.empty() || length.size() > 6 || (length.size() > 1 && length[0] == '0'))
        std::abort();
    for (char c : length)
        if (c < '0' || c > '9')
            std::abort();
    if (std::stol(length) > 99 * 3600 + 99 * 60 + 99)
        std::abort();

    if (ClipLengthFromOutput(output + "\n  Duration: 01:02:03.04, start: 0\n") != "3723")
        std::abort();

    (void)TimeAfter(output, "time=");
    (void)TimeAfter(output, "Duration: ");
    return 0;
}
