#pragma once

#include <cstdint>
#include <string>

// Text to integer as the program's windows expect it: decimal digits, or a
// leading '$' followed by hexadecimal digits of either case; an optional sign
// first. Anything else, or a value outside 32 bits, raises EConvertError.
std::int32_t StrToInt(const std::string& text);
