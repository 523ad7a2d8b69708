#pragma once

// The process service conv needs beside those of base/: becoming another
// program.

#include <string>
#include <vector>

namespace Conv {

// Replaces this process by program, which keeps our standard streams and
// process group, so its exit status becomes ours and a kill of the group
// reaches it. Returns only when the exec failed.
void ReplaceProcess(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace Conv
