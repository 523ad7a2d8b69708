#include "platform/UserInputBlock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>

#include <utility>

TUserInputBlock::TUserInputBlock(std::vector<QWidget*> windows) : windows(std::move(windows))
{
    QCoreApplication::instance()->installEventFilter(this);
}

TUserInputBlock::~TUserInputBlock()
{
    QCoreApplication::instance()->removeEventFilter(this);
}

bool TUserInputBlock::blocks(QObject* receiver) const
{
    QWidget* widget = qobject_cast<QWidget*>(receiver);
    if (!widget) {
        // Input reaches a window's QWindow before its widgets.
        if (auto* window = qobject_cast<QWindow*>(receiver)) {
            for (QWidget* blocked : windows)
                if (blocked && blocked->windowHandle() == window)
                    return true;
        }
        return false;
    }
    for (QWidget* blocked : windows)
        if (blocked && (widget == blocked || blocked->isAncestorOf(widget)))
            return true;
    return false;
}

bool TUserInputBlock::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::Drop:
    case QEvent::Close:
        if (blocks(watched)) {
            // An ignored close request leaves the window open.
            event->ignore();
            return true;
        }
        return false;
    default:
        return false;
    }
}
