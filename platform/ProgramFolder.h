#pragma once

#include <QString>

#include <string>

namespace Platform {

// The folder of the running executable, ending in '/'. Everything the
// program writes or expects lies below it.
std::string ProgramFolder();

// The program folder's html/ (without the final '/'): the page, the player
// movies, the clips and Ruffle, as served, previewed and published.
QString HtmlFolder();

// Tests run each case in a program folder of their own.
void SetProgramFolderForTesting(const std::string& folder);

}  // namespace Platform
