#pragma once

#include "base/Descriptors.h"

#include <QTimer>
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
    // window thread's event loop, which a close from another thread wakes.
    void Close();
    // Any thread.
    bool Showing() const { return showing.load(); }

    // Any thread: how far the conversion has come, in seconds of the clip,
    // and the clip's length (0 while unknown). The bar follows while the
    // window shows; without a length it just shows that work goes on.
    void ReportProgress(double doneSeconds);
    void ReportLength(double lengthSeconds);

signals:
    // Emitted on the window thread once the window has been hidden.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void applyShowing();
    void showProgress();

    std::unique_ptr<Ui::TConvertDialog> ui;
    std::atomic<bool> showing{false};
    std::atomic<double> done{0};
    std::atomic<double> length{0};
    QTimer* progressTimer;
    // Raised by a close from another thread; nothing but a descriptor
    // crosses between the threads.
    Platform::WakeEvent closeRequest;
};

extern TConvertDialog* ConvertDialog;
