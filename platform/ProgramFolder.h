#pragma once

#include <string>

namespace Platform {

// The folder of the running executable, ending in '/'. Everything the
// program writes or expects lies below it.
std::string ProgramFolder();

// Tests run each case in a program folder of their own.
void SetProgramFolderForTesting(const std::string& folder);

}  // namespace Platform
