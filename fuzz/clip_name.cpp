// The clip name of any path: only the last component's text before its last
// dot, with blanks made underscores.
#include "app/ClipInfo.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path(reinterpret_cast<const char*>(data), size);
    const std::string name = VratiImeNaFajl(path);

    const std::size_t slash = path.rfind('/');
    std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = last.rfind('.');
    std::string expected = dot == std::string::npos ? "" : last.substr(0, dot);
    for (char& c : expected)
        if (c == ' ')
            c = '_';
    if (name != expected || name.find('/') != std::string::npos || name.find(' ') != std::string::npos)
        std::abort();
    return 0;
}
