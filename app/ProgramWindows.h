#pragma once

class TApplication;

// Creates the main window, the settings window and the progress window, in
// that order; the first becomes the application's main window.
void CreateProgramWindows(TApplication& application);

// The program's entry before its event loop: the title, the three windows,
// and the main window shown.
void StartProgram(TApplication& application);
