#include "app/ConvertDialogBox.h"
#include "ui_ConvertDialogBox.h"

#include <QCloseEvent>
#include <QMetaObject>
#include <QThread>

TConvertDialog* ConvertDialog = nullptr;

TConvertDialog::TConvertDialog(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      ui(std::make_unique<Ui::TConvertDialog>())
{
    ui->setupUi(this);
    setFixedSize(size());  // fixed dialog border
    move(352, 223);
}

void TConvertDialog::Show()
{
    showing.store(true);
    show();
    raise();
}

void TConvertDialog::Close()
{
    showing.store(false);
    if (QThread::currentThread() == thread())
        applyShowing();
    else
        QMetaObject::invokeMethod(this, &TConvertDialog::applyShowing, Qt::QueuedConnection);
}

// Brings the window in line with the showing state; a close posted by a
// worker that arrives after a later Show leaves the window up.
void TConvertDialog::applyShowing()
{
    if (showing.load())
        return;
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
