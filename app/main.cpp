#include "app/Preview.h"
#include "app/PublishCommand.h"
#include "app/ProgramWindows.h"
#include "platform/Application.h"

int main(int argc, char* argv[])
{
    // The publish for scripts needs no display, so it comes before the toolkit.
    if (IsPublishCommand(argc, argv))
        return RunPublishCommand(argc, argv);
    TApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ombrix-zudodira"));
    if (IsPreviewCommand(argc, argv))
        return RunPreview(application);
    return RunProgram(application, QApplication::arguments());
}
