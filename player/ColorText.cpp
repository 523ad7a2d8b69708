#include "player/ColorText.h"

#include "base/Convert.h"

#include <array>
#include <string_view>

namespace {

// The grid's colour texts. Cell 6 shows teal (0, 128, 128) but its text is
// 408080: kept as the page has always carried it.
constexpr std::array<const char*, 16> ColourTexts = {
    "000000", "800000", "008000", "808000", "000080", "800080", "408080", "C0C0C0",
    "808080", "FF0000", "00FF00", "FFFF00", "0000FF", "FF00FF", "00FFFF", "FFFFFF",
};

}  // namespace

std::string SmeniBoja(int index)
{
    if (index < 0 || index >= int(ColourTexts.size()))
        return {};
    return ColourTexts[std::size_t(index)];
}

std::string IzvrtiBoja(const std::string& text)
{
    std::string result;
    for (std::size_t k = text.size(); k >= 2; k -= 2)
        result += text.substr(k - 2, 2);
    return result;
}

QColor PreviewColor(const std::string& colourText)
{
    const auto value = static_cast<std::uint32_t>(StrToInt("$00" + IzvrtiBoja(colourText)));
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

bool IsColourDigit(char c)
{
    static constexpr std::string_view digits = "1234567890AaBbCcDdEeFf";
    return c != '\0' && digits.find(c) != std::string_view::npos;
}
