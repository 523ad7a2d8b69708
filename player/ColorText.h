#pragma once

#include <QColor>

#include <string>

// Colour texts are six hexadecimal digits RRGGBB, as the page carries them.

// The colour text of a cell of the colour grid; the empty text for an index
// outside 0 to 15.
std::string SmeniBoja(int index);

// Reverses the order of the text's two-character pairs: RRGGBB gives BBGGRR.
std::string IzvrtiBoja(const std::string& text);

// The swatch colour of a colour text: "$00" followed by the reversed pairs,
// read as a hexadecimal number laid out 0x00BBGGRR. The empty text gives
// black. Raises EConvertError for a text that is not hexadecimal.
QColor PreviewColor(const std::string& colourText);

// The characters a typed colour text may hold: hexadecimal digits of either
// case, and nothing else.
bool IsColourDigit(char c);
