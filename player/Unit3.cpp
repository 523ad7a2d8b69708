#include "player/Unit3.h"
#include "ui_Unit3.h"

#include "base/Files.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/FocusLeave.h"
#include "platform/ProgramFolder.h"
#include "player/ColorText.h"
#include "player/PlayerPage.h"

#include <QCloseEvent>
#include <QIcon>

TForm3* Form3 = nullptr;
bool SettingsActive = false;
bool CustomColorValid = false;

namespace {

std::string localText(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

}  // namespace

TForm3::TForm3(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TForm3>())
{
    ui->setupUi(this);
    move(264, 74);
    setWindowIcon(QIcon(QStringLiteral(":/designs/icon.png")));

    connect(ui->Button1, &QPushButton::clicked, this, Guarded([this] { Button1Click(); }));
    connect(ui->Button2, &QPushButton::clicked, this, Guarded([this] { Button2Click(); }));
    connect(ui->CheckBox2, &QCheckBox::toggled, this, Guarded([this] { CheckBox2Click(); }));
    connect(ui->ColorGrid1, &TColorGrid::clicked, this, Guarded([this] { ColorGrid1Click(); }));
    connect(ui->Label6, &TLinkLabel::clicked, this, Guarded([this] { UrlMailClick(ui->Label6); }));
    connect(ui->Label9, &TLinkLabel::clicked, this, Guarded([this] { UrlMailClick(ui->Label9); }));
    OnFocusLeave(ui->Edit3, [this] { Edit3Exit(); });

    FormCreate();

    // The window opens on the first control of its tab order, as its design
    // has it; left to itself Qt would start on the colour box, the last one.
    ui->CheckBox1->setFocus();
}

TForm3::~TForm3() = default;

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

void TForm3::ShowClip(const std::string& flvFileName, const std::string& clipLength)
{
    this->flvFileName = flvFileName;
    this->clipLength = clipLength;
    show();
}

void TForm3::FormCreate()
{
    // Filling an empty combo box would select its first item; the box keeps
    // showing its prompt with nothing selected.
    const QString prompt = ui->ComboBox1->currentText();
    for (const PlayerSize& size : PlayerSizes)
        ui->ComboBox1->addItem(QString::fromStdString(PlayerListItem(size)));
    ui->ComboBox1->setCurrentIndex(-1);
    ui->ComboBox1->setEditText(prompt);
    CustomColorValid = false;
}

void TForm3::OnActivate()
{
    SettingsActive = true;
}

void TForm3::FormClose()
{
    if (SettingsActive)
        emit programEndRequested();
}

void TForm3::Button1Click()
{
    std::string colour = SmeniBoja(ui->ColorGrid1->Selection());
    if (CustomColorValid)
        colour = localText(ui->Edit3->text());

    // The size must be one of the list's items, chosen or typed alike: a page
    // without a movie and its size would show nothing.
    const int sizeRow =
        ui->ComboBox1->findText(ui->ComboBox1->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (sizeRow < 0 || sizeRow >= int(PlayerSizes.size())) {
        Dialogs::ShowMessage("Please select video size");
        return;
    }
    const int bufferRow = ui->RadioGroup1->ItemIndex();
    if (bufferRow < 0 || bufferRow >= int(BufferTimes.size())) {
        Dialogs::ShowMessage("Please select buffer time");
        return;
    }

    PlayerPageSettings settings;
    settings.Size = PlayerSizes[std::size_t(sizeRow)];
    settings.AutoStart = ui->CheckBox1->isChecked() ? "1" : "";
    settings.BufferTime = BufferTimes[std::size_t(bufferRow)];
    settings.IsLink = ui->CheckBox2->isChecked() ? "1" : "0";
    settings.ButtonColor = colour;
    settings.LinkCaption = localText(ui->Edit1->text());
    settings.WebPage = localText(ui->Edit2->text());
    settings.ClipFile = flvFileName;
    settings.ClipLength = clipLength;

    Files::TTextFile page(Platform::ProgramFolder() + "html/TempHtml.html");
    page.Write(PlayerPageText(settings));
    page.Close();
    // The same page ready for a web site, where no plug-in plays it.
    Files::TTextFile sitePage(Platform::ProgramFolder() + "html/SitePage.html");
    sitePage.Write(SitePageText(settings));
    sitePage.Close();
    Dialogs::ShowMessage("Web page is built");
}

void TForm3::Button2Click()
{
    SettingsActive = false;
    emit anotherClipRequested();
    close();
}

void TForm3::CheckBox2Click()
{
    const bool checked = ui->CheckBox2->isChecked();
    ui->Label7->setVisible(checked);
    ui->Edit1->setVisible(checked);
    ui->Label8->setVisible(checked);
    ui->Edit2->setVisible(checked);
}

void TForm3::ColorGrid1Click()
{
    ui->Edit3->setText(QString::fromLocal8Bit(SmeniBoja(ui->ColorGrid1->Selection()).c_str()));
    preview(localText(ui->Edit3->text()));
}

void TForm3::Edit3Exit()
{
    const std::string typed = localText(ui->Edit3->text());
    if (typed.empty()) {
        // An emptied box hands the colour back to the grid, and the swatch
        // shows the colour the page will get. Without a typed colour in
        // force there is nothing to hand back: nothing changes.
        if (CustomColorValid) {
            CustomColorValid = false;
            preview(SmeniBoja(ui->ColorGrid1->Selection()));
        }
        return;
    }
    if (typed.size() != 6) {
        Dialogs::ShowMessage("Please enter 6 digit hexadecimal number (e.g. FFFFFF for white)");
        CustomColorValid = false;
        return;
    }
    for (char c : typed) {
        if (!IsColourDigit(c)) {
            Dialogs::ShowMessage("Please enter valid hexadecimal digit");
            CustomColorValid = false;
            return;
        }
    }
    CustomColorValid = true;
    preview(typed);
}

void TForm3::UrlMailClick(QObject* Sender)
{
    if (auto* label = qobject_cast<QLabel*>(Sender))
        Dialogs::ShellOpen(localText(label->toolTip()));
}

void TForm3::preview(const std::string& colourText)
{
    QPalette swatch = ui->Panel1->palette();
    swatch.setColor(QPalette::Window, PreviewColor(colourText));
    ui->Panel1->setPalette(swatch);
}
