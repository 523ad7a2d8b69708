#include "app/ProgramWindows.h"

#include "app/ConvertDialogBox.h"
#include "app/winapp.h"
#include "platform/Application.h"
#include "platform/EndSignals.h"
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

int RunProgram(TApplication& application)
{
    const TEndSignals endSignals([](int signal) {
        if (Form1)
            Form1->StopForProgramEnd();
        TEndSignals::EndBySignal(signal);
    });
    StartProgram(application);
    return application.exec();
}
