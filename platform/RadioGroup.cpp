#include "platform/RadioGroup.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>
#include <QResizeEvent>

TRadioGroup::TRadioGroup(QWidget* parent)
    : QFrame(parent), buttons(new QButtonGroup(this)), grid(new QGridLayout(this))
{
    setFrameShape(QFrame::Box);
    setFrameShadow(QFrame::Sunken);
    // Four items share 241 pixels: keep the margins as thin as the frame.
    grid->setContentsMargins(3, 0, 0, 0);
    grid->setHorizontalSpacing(0);
    grid->setVerticalSpacing(0);
    buttons->setExclusive(true);
    connect(buttons, &QButtonGroup::idClicked, this, &TRadioGroup::itemIndexChanged);
}

void TRadioGroup::setItems(const QStringList& newItems)
{
    items = newItems;
    rebuild();
}

void TRadioGroup::setColumns(int count)
{
    columns = qMax(1, count);
    rebuild();
}

int TRadioGroup::ItemIndex() const
{
    return buttons->checkedId();
}

void TRadioGroup::setItemIndex(int index)
{
    if (QAbstractButton* button = buttons->button(index)) {
        button->setChecked(true);
        return;
    }
    // An exclusive group never unchecks its last button by itself.
    if (QAbstractButton* checked = buttons->checkedButton()) {
        buttons->setExclusive(false);
        checked->setChecked(false);
        buttons->setExclusive(true);
    }
}

void TRadioGroup::rebuild()
{
    const int chosen = ItemIndex();
    for (QAbstractButton* button : buttons->buttons()) {
        buttons->removeButton(button);
        delete button;
    }
    // Items run down the columns first, as in the toolkit's radio group.
    const int rows = (int(items.size()) + columns - 1) / columns;
    for (int index = 0; index < items.size(); ++index) {
        auto* button = new QRadioButton(items[index], this);
        // Four items share the designed width: the circle sits close to its
        // text so each keeps clear of the next.
        button->setStyleSheet(QStringLiteral("QRadioButton { spacing: 2px; }"));
        button->setObjectName(QStringLiteral("RadioGroupItem%1").arg(index));
        buttons->addButton(button, index);
        grid->addWidget(button, rows ? index % rows : 0, rows ? index / rows : 0);
    }
    setItemIndex(chosen < items.size() ? chosen : -1);
    // Tabbing to the group lands on its buttons.
    setFocusProxy(buttons->buttons().isEmpty() ? nullptr : buttons->buttons().first());
    setFocusPolicy(buttons->buttons().isEmpty() ? Qt::NoFocus : Qt::TabFocus);
}

void TRadioGroup::setAnchoredToAllSides(bool on)
{
    if (on == anchored)
        return;
    anchored = on;
    if (parentWidget()) {
        if (on)
            parentWidget()->installEventFilter(this);
        else
            parentWidget()->removeEventFilter(this);
    }
}

bool TRadioGroup::eventFilter(QObject* watched, QEvent* event)
{
    if (anchored && watched == parentWidget() && event->type() == QEvent::Resize) {
        const auto* resize = static_cast<QResizeEvent*>(event);
        const QSize before = resize->oldSize();
        if (before.isValid()) {
            // Keep the right and bottom distances the parent had before.
            const int rightGap = before.width() - geometry().right();
            const int bottomGap = before.height() - geometry().bottom();
            setGeometry(QRect(geometry().topLeft(), QPoint(resize->size().width() - rightGap,
                                                           resize->size().height() - bottomGap)));
        }
    }
    return QFrame::eventFilter(watched, event);
}
