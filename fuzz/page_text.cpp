// The page for any settings: four CR LF lines, and the player variables carry
// every value encoded so that it cannot end an attribute or a variable, and
// decode back to exactly the value given.
#include "player/PlayerPage.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Splits the fuzzer's bytes into the page's values at 0x01 bytes.
std::vector<std::string> fields(const std::string& data, std::size_t count)
{
    std::vector<std::string> parts(count);
    std::size_t index = 0;
    for (char c : data) {
        if (c == '\x01' && index + 1 < count)
            ++index;
        else
            parts[index] += c;
    }
    return parts;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    std::abort();  // the page writes upper-case digits only
}

std::string decode(const std::string& text)
{
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 2 >= text.size())
                std::abort();
            plain += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const auto values = fields(input, 8);
    PlayerPageSettings settings;
    settings.Size = PlayerSizes[data[0] % PlayerSizes.size()];
    settings.ClipFile = values[0];
    settings.ClipLength = values[1];
    settings.ButtonColor = values[2];
    settings.BufferTime = values[3];
    settings.AutoStart = values[4];
    settings.IsLink = values[5];
    settings.LinkCaption = values[6];
    settings.WebPage = values[7];

    const std::string page = PlayerPageText(settings);

    // Exactly four lines, each ended by CR LF, and no other line break.
    std::size_t breaks = 0;
    for (std::size_t i = 0; i < page.size(); ++i) {
        if (page[i] == '\r') {
            if (i + 1 >= page.size() || page[i + 1] != '\n')
                std::abort();
            ++breaks;
            ++i;
        } else if (page[i] == '\n') {
            std::abort();
        }
    }
    if (breaks != 4 || page.substr(page.size() - 2) != "\r\n")
        std::abort();

    // Both copies of the variables are the same text, and it holds no byte
    // that could end the attribute or a variable, nor any raw control or
    // 8-bit byte.
    const std::string variables = PlayerVariables(settings);
    const std::string flashVars = "<param name=\"FlashVars\" value=\"" + variables + "\" />";
    const std::string embed = "?" + variables + "\" quality=";
    if (page.find(flashVars) == std::string::npos || page.find(embed) == std::string::npos)
        std::abort();
    for (unsigned char c : variables.substr(std::string("file=flvs\\").size()))
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '#' || c == '\'' || c == '+' ||
            c == '\\')
            std::abort();

    // The variables decode back to the values, in the designed order.
    static const char* const keys[] = {"clipLength", "buttonColor", "bufferTime", "autoStart",
                                       "isLink",     "linkCaption", "webPage"};
    std::string rest = variables.substr(std::string("file=flvs\\").size());
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const std::size_t amp = rest.find('&', start);
        parts.push_back(rest.substr(start, amp == std::string::npos ? std::string::npos : amp - start));
        if (amp == std::string::npos)
            break;
        start = amp + 1;
    }
    if (parts.size() != 8 || decode(parts[0]) != values[0])
        std::abort();
    for (std::size_t i = 1; i < 8; ++i) {
        const std::string prefix = std::string(keys[i - 1]) + "=";
        if (parts[i].compare(0, prefix.size(), prefix) != 0 ||
            decode(parts[i].substr(prefix.size())) != values[i])
            std::abort();
    }
    return 0;
}
