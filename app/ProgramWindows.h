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

// The whole program after the application object: StartProgram, the video
// named in the arguments (OpenNamedVideo), then the event loop; its result is
// the program's exit status. Asked by the desktop to end (TERM, HUP, INT),
// the program stops a conversion under way and ends with the usual status
// for that signal.
int RunProgram(TApplication& application, const QStringList& arguments = {});
