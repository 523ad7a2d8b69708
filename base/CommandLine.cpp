#include "base/CommandLine.h"

namespace Platform {
namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine)
{
    std::vector<std::string> arguments;
    const std::size_t size = commandLine.size();
    std::size_t at = 0;
    while (at < size && isBlank(commandLine[at]))
        ++at;
    if (at == size)
        return arguments;

    // The program: quotes toggle, nothing is escaped.
    std::string program;
    bool quoted = false;
    for (; at < size && (quoted || !isBlank(commandLine[at])); ++at) {
        if (commandLine[at] == '"')
            quoted = !quoted;
        else
            program += commandLine[at];
    }
    arguments.push_back(std::move(program));

    for (;;) {
        while (at < size && isBlank(commandLine[at]))
            ++at;
        if (at == size)
            break;
        std::string argument;
        quoted = false;
        while (at < size && (quoted || !isBlank(commandLine[at]))) {
            const char c = commandLine[at];
            if (c == '\\') {
                std::size_t backslashes = 0;
                for (; at < size && commandLine[at] == '\\'; ++at)
                    ++backslashes;
                if (at < size && commandLine[at] == '"') {
                    argument.append(backslashes / 2, '\\');
                    if (backslashes % 2 == 1) {
                        argument += '"';
                        ++at;
                    }
                    // After an even run the quote is an ordinary quote.
                } else {
                    argument.append(backslashes, '\\');
                }
            } else if (c == '"') {
                if (quoted && at + 1 < size && commandLine[at + 1] == '"') {
                    argument += '"';
                    at += 2;
                } else {
                    quoted = !quoted;
                    ++at;
                }
            } else {
                argument += c;
                ++at;
            }
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

std::string EscapeInsideQuotes(const std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size());
    std::size_t backslashes = 0;
    for (const char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            // Each backslash before a quote doubles, then the quote is escaped.
            escaped.append(backslashes * 2 + 1, '\\');
        } else {
            escaped.append(backslashes, '\\');
        }
        backslashes = 0;
        escaped += c;
    }
    // The closing quote follows: backslashes before it double as well.
    escaped.append(backslashes * 2, '\\');
    return escaped;
}

}  // namespace Platform
