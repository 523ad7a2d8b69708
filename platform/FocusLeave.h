#pragma once

#include <functional>

class QWidget;

// Calls the handler when the keyboard focus leaves the control for another
// control of its window: not when the window as a whole loses the focus, nor
// when a menu pops up, and never because the control's text was set from code.
//
// A message shown by the handler cancels the mouse click that moved the focus
// (the user was just told something is wrong; the click is not carried out
// behind the message's back, and the clicked button is not left pressed).
void OnFocusLeave(QWidget* control, std::function<void()> handler);
