#include "platform/ProgramFolder.h"

#include <QCoreApplication>

namespace Platform {
namespace {
std::string& TestingFolder()
{
    static std::string folder;
    return folder;
}
}  // namespace

std::string ProgramFolder()
{
    if (!TestingFolder().empty())
        return TestingFolder();
    std::string folder = QCoreApplication::applicationDirPath().toLocal8Bit().toStdString();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

QString HtmlFolder()
{
    return QString::fromLocal8Bit(ProgramFolder() + "html");
}

void SetProgramFolderForTesting(const std::string& folder)
{
    TestingFolder() = folder;
    if (!folder.empty() && folder.back() != '/')
        TestingFolder() += '/';
}

}  // namespace Platform
