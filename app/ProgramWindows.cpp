#include "app/ProgramWindows.h"

#include "app/ConvertDialogBox.h"
#include "app/winapp.h"
#include "platform/Application.h"
#include "player/Unit3.h"

#include <QIcon>

void CreateProgramWindows(TApplication& application)
{
    application.CreateForm(Form1);
    application.CreateForm(Form3);
    application.CreateForm(ConvertDialog);
}

void StartProgram(TApplication& application)
{
    TApplication::SetTitle("Ombrix Zudodira");
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/designs/icon.png")));
    CreateProgramWindows(application);
    Form1->show();
}
