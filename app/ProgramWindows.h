#pragma once

class TApplication;

// Creates the main window, the settings window and the progress window, in
// that order; the first becomes the application's main window.
void CreateProgramWindows(TApplication& application);

// The program's entry before its event loop: the title, the three windows,
// and the main window shown.
void StartProgram(TApplication& application);

// The whole program after the application object: StartProgram, then the
// event loop; its result is the program's exit status. Asked by the desktop
// to end (TERM, HUP, INT), the program stops a conversion under way and ends
// with the usual status for that signal.
int RunProgram(TApplication& application);
