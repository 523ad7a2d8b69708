#include "app/Preview.h"
#include "app/ProgramWindows.h"
#include "app/PublishCommand.h"
#include "app/PublishWindow.h"
#include "platform/Application.h"
#include "platform/ProgramFolder.h"

#include <QProcess>

#include <cstdio>
#include <cstring>

namespace {

// "--html-folder", the menu entry's "Html Files Folder": the file manager on
// this program folder's html/, which only the program knows when it runs
// from the user's own copy that the package's command made. xdg-open, as the
// desktop would run it; it needs no window of ours.
bool IsHtmlFolderCommand(int argc, char* argv[])
{
    return argc == 2 && std::strcmp(argv[1], "--html-folder") == 0;
}

int OpenHtmlFolder()
{
    const QString folder = Platform::HtmlFolder();
    if (QProcess::startDetached(QStringLiteral("xdg-open"), {folder}))
        return 0;
    std::fprintf(stderr, "ombrix-zudodira: cannot open %s: xdg-open (from xdg-utils) did not start\n",
                 folder.toLocal8Bit().constData());
    return 1;
}

}  // namespace

int main(int argc, char* argv[])
{
    // The publish for scripts needs no display, so it comes before the toolkit.
    if (IsPublishCommand(argc, argv))
        return RunPublishCommand(argc, argv);
    TApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ombrix-zudodira"));
    if (IsPreviewCommand(argc, argv))
        return RunPreview(application);
    if (IsHtmlFolderCommand(argc, argv))
        return OpenHtmlFolder();
    if (IsPublishWindowCommand(argc, argv))
        return RunPublishWindow(application);
    return RunProgram(application, QApplication::arguments());
}
