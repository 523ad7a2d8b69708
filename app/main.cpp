#include "app/ProgramWindows.h"
#include "platform/Application.h"

int main(int argc, char* argv[])
{
    TApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ombrix-zudodira"));
    return RunProgram(application);
}
