#pragma once

#include <QStringList>

class TApplication;

// Creates the main window, the settings window and the progress window, in
// that order; the first becomes the application's main window.
void CreateProgramWindows(TApplication& application);

// The program's entry before its event loop: the title, the three windows,
// and the main window shown.
void StartProgram(TApplication& application);

// The video named on the command line, as the desktop entry hands it over
// (the first argument that is not an option, or the first after "--"), goes
// to the main window's job once the event loop runs. A name that is no file
// is reported on standard error and left alone.
void OpenNamedVideo(const QStringList& arguments);
