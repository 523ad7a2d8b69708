#pragma once

#include <QLabel>

// A label that reports a click with the left button, as the toolkit's labels
// do; its look (colour, underline, hand cursor) and the address it stands
// for (the hint, i.e. the tool tip) come from the window design.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed = false;
};
