#include "Launch.h"

#include "base/ChildProcess.h"

#include <unistd.h>

namespace Conv {

void ReplaceProcess(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = Platform::ArgumentVector(all);
    ::execv(program.c_str(), argv.data());
}

}  // namespace Conv
