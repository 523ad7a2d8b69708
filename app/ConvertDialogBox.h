#pragma once

#include <QWidget>

#include <memory>

#include <atomic>

// The progress window, shown while the converter runs. It has no buttons and
// cannot be closed by the user; the conversion job and the converter's end
// close it. Whether it is showing is the handshake between the worker thread
// that ends a conversion and the window thread that waits for that end.
namespace Ui {
class TConvertDialog;
}

class TConvertDialog : public QWidget {
    Q_OBJECT
public:
    explicit TConvertDialog(QWidget* parent = nullptr);
    ~TConvertDialog() override;

    // Window thread only.
    void Show();
    // Any thread: stops showing at once; the window itself is hidden by the
    // window thread's event loop.
    void Close();
    // Any thread.
    bool Showing() const { return showing.load(); }

signals:
    // Emitted on the window thread once the window has been hidden.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void applyShowing();

    std::unique_ptr<Ui::TConvertDialog> ui;
    std::atomic<bool> showing{false};
};

extern TConvertDialog* ConvertDialog;
