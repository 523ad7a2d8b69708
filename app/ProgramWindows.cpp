#include "app/ProgramWindows.h"

#include "app/ConvertDialogBox.h"
#include "app/winapp.h"
#include "platform/Application.h"
#include "platform/EndSignals.h"
#include "player/Unit3.h"

#include <QFileInfo>
#include <QIcon>
#include <QStringList>
#include <QTimer>

#include <cstdio>

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

void OpenNamedVideo(const QStringList& arguments)
{
    QString named;
    bool options = true;
    for (const QString& argument : arguments.mid(1)) {
        if (options && argument == QStringLiteral("--")) {
            options = false;
            continue;
        }
        if (options && argument.startsWith('-'))
            continue;
        named = argument;
        break;
    }
    if (named.isEmpty())
        return;
    const QFileInfo file(named);
    if (!file.isFile()) {
        std::fprintf(stderr, "ombrix-zudodira: not a file: %s\n", named.toLocal8Bit().constData());
        return;
    }
    const std::string path = file.absoluteFilePath().toLocal8Bit().toStdString();
    QTimer::singleShot(0, Form1, Guarded([path] { Form1->OpenVideo(path); }));
}

int RunProgram(TApplication& application, const QStringList& arguments)
{
    const TEndSignals endSignals([](int signal) {
        if (Form1)
            Form1->StopForProgramEnd();
        TEndSignals::EndBySignal(signal);
    });
    StartProgram(application);
    OpenNamedVideo(arguments);
    return application.exec();
}
