#include "platform/ColorGrid.h"

#include <QMouseEvent>
#include <QPainter>

#include <array>
#include <utility>

namespace {

// The classic 20-entry default palette: the grid shows entries 0-7 and 12-19.
constexpr std::array<QRgb, 20> DefaultPalette = {
    qRgb(0, 0, 0),       qRgb(128, 0, 0),     qRgb(0, 128, 0),     qRgb(128, 128, 0),   qRgb(0, 0, 128),
    qRgb(128, 0, 128),   qRgb(0, 128, 128),   qRgb(192, 192, 192), qRgb(192, 220, 192), qRgb(166, 202, 240),
    qRgb(255, 251, 240), qRgb(160, 160, 164), qRgb(128, 128, 128), qRgb(255, 0, 0),     qRgb(0, 255, 0),
    qRgb(255, 255, 0),   qRgb(0, 0, 255),     qRgb(255, 0, 255),   qRgb(0, 255, 255),   qRgb(255, 255, 255),
};

constexpr int Rows = TColorGrid::CellCount / TColorGrid::Columns;

}  // namespace

TColorGrid::TColorGrid(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QColor TColorGrid::CellColor(int index)
{
    if (index < 0 || index >= CellCount)
        return {};
    return QColor(DefaultPalette[std::size_t(index < 8 ? index : index + 4)]);
}

void TColorGrid::setSelection(int index)
{
    if (index < 0 || index >= CellCount || index == selection)
        return;
    selection = index;
    update();
}

void TColorGrid::setBackgroundEnabled(bool on)
{
    backgroundEnabled = on;
    update();
}

int TColorGrid::CellAt(QPoint point) const
{
    const int column = qBound(0, point.x() * Columns / qMax(1, width()), Columns - 1);
    const int row = qBound(0, point.y() * Rows / qMax(1, height()), Rows - 1);
    return row * Columns + column;
}

QRect TColorGrid::CellRect(int index) const
{
    const int column = index % Columns;
    const int row = index / Columns;
    const int left = column * width() / Columns;
    const int top = row * height() / Rows;
    const int right = (column + 1) * width() / Columns;
    const int bottom = (row + 1) * height() / Rows;
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

void TColorGrid::pick(Qt::MouseButton button, QPoint point)
{
    const int cell = CellAt(point);
    setSelection(cell);
    if (button == Qt::LeftButton) {
        foregroundIndex = cell;
    } else if (button == Qt::RightButton) {
        if (clickEnablesColor)
            backgroundEnabled = true;
        backgroundIndex = cell;
    }
    update();
}

void TColorGrid::mousePressEvent(QMouseEvent* event)
{
    if (heldButton == Qt::NoButton &&
        (event->button() == Qt::LeftButton || event->button() == Qt::RightButton)) {
        heldButton = event->button();
        pick(heldButton, event->position().toPoint());
    }
    event->accept();
}

void TColorGrid::mouseMoveEvent(QMouseEvent* event)
{
    if (heldButton != Qt::NoButton)
        pick(heldButton, event->position().toPoint());
    event->accept();
}

void TColorGrid::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != heldButton)
        return;
    const Qt::MouseButton released = std::exchange(heldButton, Qt::NoButton);
    if (released == Qt::RightButton || rect().contains(event->position().toPoint()))
        emit clicked();
}

void TColorGrid::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QFont markerFont = font();
    markerFont.setPixelSize(9);
    markerFont.setBold(true);
    painter.setFont(markerFont);

    for (int index = 0; index < CellCount; ++index) {
        const QRect cell = CellRect(index);
        const QColor colour = CellColor(index);
        painter.fillRect(cell, colour);
        painter.setPen(QColor(128, 128, 128));
        painter.drawRect(cell.adjusted(0, 0, -1, -1));

        const bool foreground = index == foregroundIndex;
        const bool background = backgroundEnabled && index == backgroundIndex;
        const QString marker = foreground && background ? QStringLiteral("FB")
                               : foreground             ? QStringLiteral("FG")
                               : background             ? QStringLiteral("BG")
                                                        : QString();
        if (!marker.isEmpty()) {
            // Markers in the colour that stands out from the cell.
            painter.setPen(colour.lightness() < 128 ? Qt::white : Qt::black);
            painter.drawText(cell, Qt::AlignCenter, marker);
        }
    }

    // The selected cell gets a double frame, black inside white, so it shows
    // on light and dark cells alike.
    const QRect chosen = CellRect(selection);
    painter.setPen(Qt::black);
    painter.drawRect(chosen.adjusted(0, 0, -1, -1));
    painter.setPen(Qt::white);
    painter.drawRect(chosen.adjusted(1, 1, -2, -2));
}
