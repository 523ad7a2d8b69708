#include "platform/FocusLeave.h"

#include "platform/Dialogs.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QTimer>
#include <QWidget>

namespace {

// Eats the mouse button events still being delivered for the press that
// moved the focus; gone once the event loop is back to idle.
class PendingClickCanceller : public QObject {
public:
    PendingClickCanceller()
    {
        QCoreApplication::instance()->installEventFilter(this);
        QTimer::singleShot(0, this, [this] {
            QCoreApplication::instance()->removeEventFilter(this);
            deleteLater();
        });
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
                return true;
            default:
                return false;
        }
    }
};

class FocusLeaveWatcher : public QObject {
public:
    FocusLeaveWatcher(QWidget* control, std::function<void()> handler)
        : QObject(control), handler(std::move(handler))
    {
        control->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::FocusOut)
            return false;
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
            return false;
        const unsigned shownBefore = Dialogs::MessagesShown();
        handler();
        if (Dialogs::MessagesShown() != shownBefore && QCoreApplication::instance())
            new PendingClickCanceller;
        return false;
    }

private:
    std::function<void()> handler;
};

}  // namespace

void OnFocusLeave(QWidget* control, std::function<void()> handler)
{
    new FocusLeaveWatcher(control, std::move(handler));
}
