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

    // The two working windows hand the user over to each other.
    QObject::connect(Form1, &TForm1::clipConverted, Form3, &TForm3::ShowClip);
    QObject::connect(Form3, &TForm3::anotherClipRequested, Form1, &QWidget::show);
    QObject::connect(Form3, &TForm3::programEndRequested, Form1, &QWidget::close);
}

void StartProgram(TApplication& application)
{
    TApplication::SetTitle("Ombrix Zudodira");
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/designs/icon.png")));
    CreateProgramWindows(application);
    Form1->show();
}
