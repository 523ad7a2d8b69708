#include "app/Preview.h"
#include "app/ProgramWindows.h"
#include "platform/Application.h"

int main(int argc, char* argv[])
{
    TApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ombrix-zudodira"));
    if (IsPreviewCommand(argc, argv))
        return RunPreview(application);
    return RunProgram(application, QApplication::arguments());
}
