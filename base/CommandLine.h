#pragma once

#include <string>
#include <vector>

namespace Platform {

// Splits a command line into the program and its arguments by the rules
// Windows programs parse their command line with:
// - blanks (space, tab) outside double quotes separate arguments;
// - a double quote starts or ends a quoted part; inside one, "" is a literal
//   quote and the quoted part goes on;
// - 2n backslashes before a quote give n backslashes, and the quote toggles
//   quoting; 2n+1 backslashes before a quote give n backslashes and a literal
//   quote; backslashes anywhere else are literal;
// - the first token, the program, ends at the first blank outside quotes;
//   quotes in it only toggle and backslashes are always literal.
// Any other byte, line breaks included, is text.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The text to write between a pair of double quotes so that SplitCommandLine
// gives back exactly `text` as one argument. A text without quotes and
// without a trailing backslash comes back unchanged.
std::string EscapeInsideQuotes(const std::string& text);

}  // namespace Platform
