#pragma once

#include <optional>
#include <string>

// The clip name of a video file's path: the last path component up to its
// last dot, with blanks turned into underscores. A name without a dot gives
// the empty name. '/' separates folders; a backslash is an ordinary character.
std::string VratiImeNaFajl(const std::string& path);

// The clip's length in whole seconds, as decimal digits, read from the
// converter's output: the last "Duration" followed by ": HH:MM:SS" wins.
// An occurrence whose six digit places are not all digits (a converter that
// cannot tell writes "N/A") or that the output cuts short is skipped; without
// any, the length is "0".
std::string ClipLengthFromOutput(const std::string& converterOutput);

// Seconds of a "HH:MM:SS.ff" time that follows the given label in a line of
// the converter's output ("Duration: " for the clip's length, "time=" for how
// far the conversion has come); nothing when the line has none.
std::optional<double> TimeAfter(const std::string& line, const std::string& label);

// The converter's command line for an input file and the output file it is
// to write; each path reaches the converter as exactly one argument,
// whatever characters it holds.
std::string ConverterCommandLine(const std::string& inputPath, const std::string& outputPath);
