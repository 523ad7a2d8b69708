#include "app/ClipInfo.h"

#include "base/CommandLine.h"

#include <algorithm>

std::string VratiImeNaFajl(const std::string& path)
{
    const std::size_t folderEnd = path.rfind('/');
    const std::string fileName = folderEnd == std::string::npos ? path : path.substr(folderEnd + 1);
    const std::size_t dot = fileName.rfind('.');
    std::string name = dot == std::string::npos ? std::string() : fileName.substr(0, dot);
    std::replace(name.begin(), name.end(), ' ', '_');
    return name;
}

namespace {

// Two decimal digits at the given offset, or -1.
int twoDigits(const std::string& text, std::size_t at)
{
    const auto digit = [&](std::size_t i) { return text[i] >= '0' && text[i] <= '9'; };
    if (!digit(at) || !digit(at + 1))
        return -1;
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

}  // namespace

std::string ClipLengthFromOutput(const std::string& converterOutput)
{
    static const std::string word = "Duration";
    // "Duration: HH:MM:SS": the digit pairs stand at offsets 10, 13 and 16
    // from the word's first letter.
    constexpr std::size_t hoursAt = 10, minutesAt = 13, secondsAt = 16, lastDigitAt = 17;

    long hours = 0, minutes = 0, seconds = 0;
    for (std::size_t at = converterOutput.find(word); at != std::string::npos;
         at = converterOutput.find(word, at + 1)) {
        if (at + lastDigitAt >= converterOutput.size())
            continue;
        const int h = twoDigits(converterOutput, at + hoursAt);
        const int m = twoDigits(converterOutput, at + minutesAt);
        const int s = twoDigits(converterOutput, at + secondsAt);
        if (h < 0 || m < 0 || s < 0)
            continue;
        hours = h;
        minutes = m;
        seconds = s;
    }
    return std::to_string(hours * 3600 + minutes * 60 + seconds);
}

std::optional<double> TimeAfter(const std::string& line, const std::string& label)
{
    const std::size_t at = line.find(label);
    if (at == std::string::npos)
        return std::nullopt;
    const std::size_t start = at + label.size();
    // HH:MM:SS, then an optional fraction.
    if (start + 8 > line.size() || line[start + 2] != ':' || line[start + 5] != ':')
        return std::nullopt;
    const int hours = twoDigits(line, start);
    const int minutes = twoDigits(line, start + 3);
    const int seconds = twoDigits(line, start + 6);
    if (hours < 0 || minutes < 0 || seconds < 0)
        return std::nullopt;
    double fraction = 0;
    std::size_t i = start + 8;
    if (i < line.size() && line[i] == '.') {
        double scale = 0.1;
        for (++i; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i, scale /= 10)
            fraction += (line[i] - '0') * scale;
    }
    return hours * 3600.0 + minutes * 60.0 + seconds + fraction;
}

std::string ConverterCommandLine(const std::string& inputPath, const std::string& outputPath)
{
    return "conv -i \"" + Platform::EscapeInsideQuotes(inputPath) +
           "\" -vcodec flv -acodec mp3 -s 240x180 -y \"" + Platform::EscapeInsideQuotes(outputPath) + "\"";
}
