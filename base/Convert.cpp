#include "base/Convert.h"

#include "base/Exceptions.h"

#include <cctype>

std::int32_t StrToInt(const std::string& text)
{
    auto invalid = [&] { return EConvertError("'" + text + "' is not a valid integer value"); };

    std::size_t position = 0;
    bool negative = false;
    if (position < text.size() && (text[position] == '-' || text[position] == '+'))
        negative = text[position++] == '-';
    int base = 10;
    if (position < text.size() && text[position] == '$') {
        base = 16;
        ++position;
    }
    if (position == text.size())
        throw invalid();

    std::int64_t value = 0;
    for (; position < text.size(); ++position) {
        const unsigned char c = static_cast<unsigned char>(text[position]);
        int digit;
        if (std::isdigit(c))
            digit = c - '0';
        else if (base == 16 && std::isxdigit(c))
            digit = std::tolower(c) - 'a' + 10;
        else
            throw invalid();
        value = value * base + digit;
        // Hexadecimal texts may spell the full 32 bits, as colour values do.
        if (value > (base == 16 ? 0xFFFFFFFFLL : 0x80000000LL))
            throw invalid();
    }
    if (base == 10 && !negative && value > 0x7FFFFFFF)
        throw invalid();
    return static_cast<std::int32_t>(negative ? -value : value);
}
