#pragma once

#include <QApplication>

#include <exception>
#include <functional>
#include <string>
#include <vector>

class QWidget;

// The application object: owns the windows created through CreateForm, the
// first of which is the main window, and shows every exception that escapes
// a handler in the general error box instead of ending the program.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    // Caption of every message box.
    static std::string Title();
    static void SetTitle(const std::string& title);

    // Creates a window owned by the application and stores it in the given
    // module-level reference, which DestroyForms clears again.
    template <class TForm>
    void CreateForm(TForm*& reference)
    {
        reference = new TForm();
        adopt(reference, [&reference] {
            delete reference;
            reference = nullptr;
        });
    }

    QWidget* MainForm() const { return mainForm; }
    // The windows in the order they were created.
    const std::vector<QWidget*>& Forms() const { return forms; }

    // Destroys the windows, the last created first.
    void DestroyForms();

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows an exception that escaped a handler in the general error box; the
    // program carries on.
    static void HandleException(std::exception_ptr error);

private:
    void adopt(QWidget* form, std::function<void()> destroy);

    QWidget* mainForm = nullptr;
    std::vector<QWidget*> forms;
    std::vector<std::function<void()>> formDestroyers;
};

// A handler for a signal, guarded: an exception escaping it is shown in the
// general error box right where it escapes, so that it never unwinds through
// the toolkit's own frames (which would leave, say, a button held down).
template <class Handler>
auto Guarded(Handler handler)
{
    return [handler = std::move(handler)](auto&&...) {
        try {
            handler();
        } catch (...) {
            TApplication::HandleException(std::current_exception());
        }
    };
}
