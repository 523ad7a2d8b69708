#pragma once

#include <QObject>

#include <vector>

class QWidget;

// While it lives, the given windows take no user input: clicks, keys, the
// wheel and their close boxes are dropped, while they go on being painted
// and the desktop keeps seeing a live program. Windows that open meanwhile
// (message boxes) work as usual.
class TUserInputBlock : public QObject {
public:
    explicit TUserInputBlock(std::vector<QWidget*> windows);
    ~TUserInputBlock() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool blocks(QObject* receiver) const;

    std::vector<QWidget*> windows;
};
