#pragma once

#include <QApplication>

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

private:
    void adopt(QWidget* form, std::function<void()> destroy);

    QWidget* mainForm = nullptr;
    std::vector<QWidget*> forms;
    std::vector<std::function<void()>> formDestroyers;
};
