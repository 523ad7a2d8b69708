#pragma once

// The two process services conv needs beside those of base/: running a
// program to read its standard output, and becoming another program.

#include <optional>
#include <string>
#include <vector>

namespace Conv {

struct Captured {
    int ExitStatus = -1;  // 128 plus the signal that ended it; -1 when its end could not be read
    std::string Output;
};

// Runs program with its standard input on /dev/null and its standard output
// read into the result; its standard error is ours. Empty when it cannot be
// started, errno saying why.
std::optional<Captured> RunCapturingOutput(const std::string& program,
                                           const std::vector<std::string>& arguments);

// Replaces this process by program, which keeps our standard streams and
// process group, so its exit status becomes ours and a kill of the group
// reaches it. Returns only when the exec failed.
void ReplaceProcess(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace Conv
