#pragma once

#include <QFrame>
#include <QStringList>

class QButtonGroup;
class QGridLayout;

// A framed group of radio buttons, one per item, laid out in columns. The
// chosen item is ItemIndex, -1 while none is chosen.
class TRadioGroup : public QFrame {
    Q_OBJECT
    Q_PROPERTY(QStringList items READ Items WRITE setItems)
    Q_PROPERTY(int columns READ Columns WRITE setColumns)
    Q_PROPERTY(int itemIndex READ ItemIndex WRITE setItemIndex)
    Q_PROPERTY(bool anchoredToAllSides READ AnchoredToAllSides WRITE setAnchoredToAllSides)
public:
    explicit TRadioGroup(QWidget* parent = nullptr);

    QStringList Items() const { return items; }
    void setItems(const QStringList& newItems);

    int Columns() const { return columns; }
    void setColumns(int count);

    int ItemIndex() const;
    void setItemIndex(int index);

    // Keeps the distances to all four sides of the parent when it is resized.
    bool AnchoredToAllSides() const { return anchored; }
    void setAnchoredToAllSides(bool on);

signals:
    void itemIndexChanged(int index);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();

    QStringList items;
    int columns = 1;
    bool anchored = false;
    QButtonGroup* buttons;
    QGridLayout* grid;
};
