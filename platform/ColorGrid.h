#pragma once

#include <QColor>
#include <QWidget>

// A grid of the sixteen standard colours in four rows of four. A press of the
// left or right button picks the cell under the pointer (dragging with the
// button held moves the pick along), and the release reports a click: the
// right button wherever it is released, the left one only over the grid.
// The left button's cell carries the marker "FG", the right button's "BG"
// (once background picking is on), a cell with both "FB". It never takes the
// keyboard focus.
class TColorGrid : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int selection READ Selection WRITE setSelection)
    Q_PROPERTY(bool clickEnablesColor READ ClickEnablesColor WRITE setClickEnablesColor)
    Q_PROPERTY(bool backgroundEnabled READ BackgroundEnabled WRITE setBackgroundEnabled)
public:
    static constexpr int CellCount = 16;
    static constexpr int Columns = 4;

    explicit TColorGrid(QWidget* parent = nullptr);

    // The colour a cell shows; cells 0 to 7 are the first eight entries of
    // the classic 20-entry palette, cells 8 to 15 its last eight.
    static QColor CellColor(int index);

    int Selection() const { return selection; }
    void setSelection(int index);
    int ForegroundIndex() const { return foregroundIndex; }
    int BackgroundIndex() const { return backgroundIndex; }

    // With ClickEnablesColor, the first right-button pick switches the
    // background marker on.
    bool ClickEnablesColor() const { return clickEnablesColor; }
    void setClickEnablesColor(bool on) { clickEnablesColor = on; }
    bool BackgroundEnabled() const { return backgroundEnabled; }
    void setBackgroundEnabled(bool on);

    // The cell at a point of the widget, clamped to the grid.
    int CellAt(QPoint point) const;
    QRect CellRect(int index) const;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void pick(Qt::MouseButton button, QPoint point);

    int selection = 0;
    int foregroundIndex = 0;
    int backgroundIndex = 0;
    bool clickEnablesColor = false;
    bool backgroundEnabled = false;
    Qt::MouseButton heldButton = Qt::NoButton;
};
