#include "platform/Application.h"

#include "platform/Dialogs.h"

#include <QWidget>

#include <exception>

namespace {
std::string& applicationTitle()
{
    static std::string title;
    return title;
}
}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // The program ends when the main window closes, not when the last
    // visible window does: the main window may be hidden while the settings
    // window is up.
    setQuitOnLastWindowClosed(false);
}

TApplication::~TApplication()
{
    DestroyForms();
}

std::string TApplication::Title()
{
    return applicationTitle();
}

void TApplication::SetTitle(const std::string& title)
{
    applicationTitle() = title;
}

void TApplication::adopt(QWidget* form, std::function<void()> destroy)
{
    if (!mainForm)
        mainForm = form;
    forms.push_back(form);
    formDestroyers.push_back(std::move(destroy));
}

void TApplication::DestroyForms()
{
    while (!formDestroyers.empty()) {
        auto destroy = std::move(formDestroyers.back());
        formDestroyers.pop_back();
        destroy();
    }
    forms.clear();
    mainForm = nullptr;
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        const bool handled = QApplication::notify(receiver, event);
        // Closing the main window ends the program.
        if (event->type() == QEvent::Close && receiver == mainForm && event->isAccepted())
            quit();
        return handled;
    } catch (...) {
        HandleException(std::current_exception());
    }
    return true;
}

void TApplication::HandleException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& exception) {
        Dialogs::ShowErrorBox(exception.what());
    } catch (...) {
        Dialogs::ShowErrorBox("Unknown error");
    }
}
