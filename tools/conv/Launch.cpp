#include "Launch.h"

#include "base/ChildProcess.h"

#include <unistd.h>

namespace Conv {

namespace {

std::vector<std::string> withName(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

}  // namespace

void ReplaceProcess(const std::string& program, const std::vector<std::string>& arguments)
{
    const std::vector<std::string> all = withName(program, arguments);
    std::vector<char*> argv = Platform::ArgumentVector(all);
    ::execv(program.c_str(), argv.data());
}

}  // namespace Conv
