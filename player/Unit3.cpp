#include "player/Unit3.h"
#include "ui_Unit3.h"

#include "app/winapp.h"
#include "platform/Dialogs.h"

#include <QCloseEvent>
#include <QIcon>

TForm3* Form3 = nullptr;
bool SettingsActive = false;

TForm3::TForm3(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TForm3>())
{
    ui->setupUi(this);
    move(264, 74);
    setWindowIcon(QIcon(QStringLiteral(":/designs/icon.png")));

    connect(ui->Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
    connect(ui->Label6, &TLinkLabel::clicked, this, [this] { UrlMailClick(ui->Label6); });
    connect(ui->Label9, &TLinkLabel::clicked, this, [this] { UrlMailClick(ui->Label9); });
}

bool TForm3::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        OnActivate();
    return QWidget::event(event);
}

void TForm3::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

void TForm3::OnActivate()
{
    SettingsActive = true;
}

void TForm3::Button2Click()
{
    SettingsActive = false;
    Form1->show();
    close();
}

void TForm3::FormClose()
{
    if (SettingsActive)
        Form1->close();
}

void TForm3::UrlMailClick(QObject* Sender)
{
    if (auto* label = qobject_cast<QLabel*>(Sender))
        Dialogs::ShellOpen(label->toolTip().toLocal8Bit().toStdString());
}

TForm3::~TForm3() = default;
