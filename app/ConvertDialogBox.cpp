#include "app/ConvertDialogBox.h"
#include "ui_ConvertDialogBox.h"

#include <QCloseEvent>
#include <QSocketNotifier>
#include <QThread>

TConvertDialog* ConvertDialog = nullptr;

TConvertDialog::TConvertDialog(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      ui(std::make_unique<Ui::TConvertDialog>())
{
    ui->setupUi(this);
    setFixedSize(size());  // fixed dialog border
    move(352, 223);

    progressTimer = new QTimer(this);
    progressTimer->setInterval(200);
    connect(progressTimer, &QTimer::timeout, this, &TConvertDialog::showProgress);

    auto* closeRequests = new QSocketNotifier(closeRequest.Descriptor(), QSocketNotifier::Read, this);
    connect(closeRequests, &QSocketNotifier::activated, this, [this] {
        closeRequest.Drain();
        applyShowing();
    });
}

void TConvertDialog::Show()
{
    done.store(0);
    length.store(0);
    showProgress();
    showing.store(true);
    show();
    raise();
    progressTimer->start();
}

void TConvertDialog::ReportProgress(double doneSeconds)
{
    done.store(doneSeconds);
}

void TConvertDialog::ReportLength(double lengthSeconds)
{
    length.store(lengthSeconds);
}

void TConvertDialog::showProgress()
{
    // Tenths of a second give a smooth bar for clips of any length that fit
    // an int.
    const double total = length.load();
    if (total <= 0) {
        ui->ProgressBar1->setRange(0, 0);
        return;
    }
    const int steps = int(qMin(total * 10, 2e9));
    ui->ProgressBar1->setRange(0, steps);
    ui->ProgressBar1->setValue(int(qBound(0.0, done.load() * 10, double(steps))));
}

void TConvertDialog::Close()
{
    showing.store(false);
    if (QThread::currentThread() == thread())
        applyShowing();
    else
        // Through the eventfd, not a queued call: a queued call crosses on
        // Qt's own locks, which ThreadSanitizer cannot see, so it would take
        // the window's state that the worker left as a race; a descriptor's
        // write and read it sees as the hand-over.
        closeRequest.Signal();
}

// Brings the window in line with the showing state; a close posted by a
// worker that arrives after a later Show leaves the window up.
void TConvertDialog::applyShowing()
{
    if (showing.load())
        return;
    progressTimer->stop();
    hide();
    emit closed();
}

void TConvertDialog::closeEvent(QCloseEvent* event)
{
    // The window's close box does nothing: only the job and the converter's
    // end close it, and they hide it without a close request.
    event->ignore();
}

TConvertDialog::~TConvertDialog() = default;
