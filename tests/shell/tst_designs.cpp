// The window designs: every control where the design puts it, with its text,
// look and initial state.
#include "app/ConvertDialogBox.h"
#include "app/Preview.h"
#include "app/ProgramWindows.h"
#include "app/PublishWindow.h"
#include "app/winapp.h"
#include "platform/ColorGrid.h"
#include "platform/RadioGroup.h"
#include "player/Unit3.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>

#include <functional>
#include <memory>

using namespace TestSupport;

namespace {

QWidget* windowNamed(const QString& name)
{
    if (name == "Form1")
        return Form1;
    if (name == "Form3")
        return Form3;
    return ConvertDialog;
}

QString textOf(QWidget* control)
{
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        return edit->text();
    if (auto* combo = qobject_cast<QComboBox*>(control))
        return combo->currentText();
    return {};
}

QString withoutMnemonics(QString text)
{
    text.replace("&&", QChar(1));
    text.remove('&');
    return text.replace(QChar(1), "&");
}

// The part of a rectangle of the widget that shows in its window: every
// parent clips its children.
QRect shownPart(QWidget* widget, QRect rect, QWidget* window)
{
    rect.translate(widget->mapTo(window, QPoint(0, 0)));
    for (QWidget* parent = widget->parentWidget(); parent; parent = parent->parentWidget()) {
        rect &= QRect(parent->mapTo(window, QPoint(0, 0)), parent->size());
        if (parent == window)
            break;
    }
    return rect;
}

// Every label, push button, check box and radio item of the window whose
// text needs more room than the widget paints it in: beside the indicator
// of a check box, inside the frame of a button, within the margins of a
// label, and no further than its window shows. Wrapped texts are measured
// by their height.
QStringList cutTexts(QWidget* window)
{
    QStringList cut;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(window))
            continue;
        QString text;
        QRect room;
        bool wraps = false;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            text = label->text();
            wraps = label->wordWrap();
            const int margin = label->margin();
            room = label->contentsRect().adjusted(margin, margin, -margin, -margin);
            if (label->indent() > 0)
                room.setLeft(room.left() + label->indent());
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            QStyle::SubElement contents = QStyle::SE_PushButtonContents;
            if (qobject_cast<QCheckBox*>(button))
                contents = QStyle::SE_CheckBoxContents;
            else if (qobject_cast<QRadioButton*>(button))
                contents = QStyle::SE_RadioButtonContents;
            else if (!qobject_cast<QPushButton*>(button))
                continue;
            text = withoutMnemonics(button->text());
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            room = button->style()->subElementRect(contents, &option, button);
            if (!button->icon().isNull())
                room.setLeft(room.left() + button->iconSize().width() + 4);
        }
        if (text.isEmpty())
            continue;
        room = shownPart(widget, room, window);
        const QFontMetrics metrics = widget->fontMetrics();
        const QRect needed = wraps ? metrics.boundingRect(QRect(0, 0, room.width(), 100000), Qt::TextWordWrap, text)
                                   : metrics.boundingRect(QRect(0, 0, 100000, 100000), 0, text);
        if (needed.width() > room.width() || needed.height() > room.height())
            cut << QString("%1 \"%2\" needs %3x%4, has %5x%6")
                       .arg(widget->objectName(), text)
                       .arg(needed.width())
                       .arg(needed.height())
                       .arg(room.width())
                       .arg(room.height());
    }
    return cut;
}

// Shows the message box as the program does (show) and gives what cutTexts
// finds in it, then answers it.
QStringList cutTextsOfMessage(const std::function<void()>& show, bool& shown)
{
    QStringList cut;
    shown = false;
    QElapsedTimer waited;
    waited.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box->isVisible()) {
            shown = true;
            cut = cutTexts(box);
            box->accept();
        } else if (waited.elapsed() < 30000) {
            return;
        } else if (box) {
            box->reject();
        }
        poll.stop();
    });
    poll.start(10);
    show();
    return cut;
}

}  // namespace

class DesignTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { StartProgram(App()); }
    void cleanupTestCase() { App().DestroyForms(); }

    void controls_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QPoint>("place");
        QTest::addColumn<QSize>("size");  // empty: sized to its text
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("visible");

        auto row = [](const char* window, const char* name, const char* className, QPoint place, QSize size,
                      const char* text, bool visible = true) {
            QTest::newRow(qPrintable(QString("%1.%2").arg(window, name)))
                << QString(window) << QString(name) << QString(className) << place << size << QString(text)
                << visible;
        };
        row("Form1", "Image1", "QLabel", {0, 0}, {553, 112}, "");
        row("Form1", "Label1", "QLabel", {32, 144}, {},
            "Please select your video file (avi, mpeg, wmv, mov...):");
        row("Form1", "Button1", "QPushButton", {208, 192}, {89, 25}, "Browse");
        row("ConvertDialog", "Label1", "QLabel", {8, 16}, {}, "Converting in progress ...     Please wait");
        row("ConvertDialog", "ProgressBar1", "QProgressBar", {8, 79}, {328, 16}, "");
        row("Form3", "Label6", "TLinkLabel", {160, 0}, {}, "www.ombrixzidad.example", false);
        row("Form3", "Label1", "QLabel", {144, 16}, {}, "Please choose size of the player:");
        row("Form3", "ComboBox1", "QComboBox", {144, 40}, {241, 24}, "Please choose");
        row("Form3", "Label2", "QLabel", {144, 72}, {}, "Please choose video buffer time: ");
        row("Form3", "RadioGroup1", "TRadioGroup", {144, 88}, {241, 33}, "");
        row("Form3", "Label3", "QLabel", {144, 136}, {}, "Please choose color for buttons:");
        row("Form3", "ColorGrid1", "TColorGrid", {208, 152}, {104, 88}, "");
        row("Form3", "Label11", "QLabel", {32, 240}, {},
            "or you can type your color for buttons in hexadecimal representation");
        row("Form3", "Edit3", "QLineEdit", {216, 264}, {89, 21}, "");
        row("Form3", "Panel1", "QFrame", {304, 264}, {21, 21}, "");
        row("Form3", "CheckBox1", "QCheckBox", {144, 296}, {}, "Play First Track Automatically");
        row("Form3", "CheckBox2", "QCheckBox", {48, 320}, {},
            "Put your affiliate link on your videos and earn instant commissions!");
        row("Form3", "Label9", "TLinkLabel", {200, 336}, {}, "Get affiliate link");
        row("Form3", "Label7", "QLabel", {144, 360}, {},
            "please type the caption of link (e.g Ombrix Zidad)");
        row("Form3", "Edit1", "QLineEdit", {144, 376}, {257, 21}, "Ombrix Zidad");
        row("Form3", "Label8", "QLabel", {144, 408}, {},
            "Please enter your affiliate link here (e.g. ombrixzidad.example/?a=7)");
        row("Form3", "Edit2", "QLineEdit", {144, 424}, {257, 21}, "http://www.ombrixzidad.example/");
        row("Form3", "Label10", "QLabel", {24, 456}, {},
            "In order to preview your converted flv file you need to close program");
        row("Form3", "Button1", "QPushButton", {120, 480}, {129, 33}, "Generate Player");
        row("Form3", "Button2", "QPushButton", {288, 480}, {129, 33}, "Convert Another Clip");
        row("Form3", "Label4", "QLabel", {16, 512}, {}, "You can access your generated files from");
        row("Form3", "Label5", "QLabel", {16, 528}, {},
            "\"Start\" > \"Programs\" > \"Ombrix Zidad\" > \"Html Files Folder\"");
    }
    void controls()
    {
        QFETCH(QString, window);
        QFETCH(QString, name);
        QFETCH(QString, className);
        QFETCH(QPoint, place);
        QFETCH(QSize, size);
        QFETCH(QString, text);
        QFETCH(bool, visible);

        QWidget* form = windowNamed(window);
        auto* control = form->findChild<QWidget*>(name);
        QVERIFY2(control, qPrintable(name));
        QCOMPARE(QString(control->metaObject()->className()), className);
        QCOMPARE(control->pos(), place);
        if (size.isValid())
            QCOMPARE(control->size(), size);
        QCOMPARE(textOf(control), text);
        QCOMPARE(control->isVisibleTo(form), visible);
        // Everything fits inside the window.
        if (visible && !text.isEmpty() && qobject_cast<QLabel*>(control)) {
            const int textWidth = control->fontMetrics().horizontalAdvance(text);
            QVERIFY2(control->x() + qMin(textWidth, control->width()) <= form->width(), qPrintable(name));
            QVERIFY2(qobject_cast<QLabel*>(control)->wordWrap() || textWidth <= control->width(),
                     qPrintable(name));
        }
    }

    void fontsFollowTheDesign_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("pixels");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("italic");
        QTest::newRow("Form1.Label1") << "Form1"
                                      << "Label1" << 16 << true << false;
        QTest::newRow("ConvertDialog.Label1") << "ConvertDialog"
                                              << "Label1" << 15 << true << false;
        for (const char* name :
             {"Label1", "Label2", "Label3", "Label4", "Label5", "Label10", "Label11", "CheckBox1"})
            QTest::newRow(qPrintable(QString("Form3.") + name)) << "Form3" << name << 13 << true << false;
        QTest::newRow("Form3.CheckBox2") << "Form3"
                                         << "CheckBox2" << 11 << true << false;
        QTest::newRow("Form3.ComboBox1") << "Form3"
                                         << "ComboBox1" << 13 << false << true;
    }
    void fontsFollowTheDesign()
    {
        QFETCH(QString, window);
        QFETCH(QString, name);
        QFETCH(int, pixels);
        QFETCH(bool, bold);
        QFETCH(bool, italic);
        auto* control = windowNamed(window)->findChild<QWidget*>(name);
        QVERIFY(control);
        control->ensurePolished();
        QCOMPARE(control->font().pixelSize(), pixels);
        QCOMPARE(control->font().bold(), bold);
        QCOMPARE(control->font().italic(), italic);
        QCOMPARE(control->font().family(), QString("Verdana"));
    }

    // What the user reads is painted whole, on the fonts the program gets.
    void everyTextHasRoom_data()
    {
        QTest::addColumn<QString>("window");  // empty: a message box
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("errorBox");
        for (const char* window : {"Form1", "ConvertDialog", "Form3", "PreviewWindow", "PublishWindow"})
            QTest::newRow(window) << window << QString() << false;
        for (const char* message : {"Converting is started. Click \"OK\" to continue", "Input file is read only",
                                    "The input video file has errors. Please check video file.",
                                    "Unsucessufull converting, possible codec error. Please see codec list.",
                                    "Sucessufull converting", "Please select video size", "Please select buffer time",
                                    "Web page is built",
                                    "Please enter 6 digit hexadecimal number (e.g. FFFFFF for white)",
                                    "Please enter valid hexadecimal digit",
                                    "There is no player page to preview yet. Convert a clip and press \"Generate "
                                    "Player\" first, then start the preview again.",
                                    "There is no player page to publish yet. Convert a clip and press \"Generate "
                                    "Player\" first, then publish again.",
                                    "Please enter where to publish: an SFTP, FTP or WebDAV address, or a folder.",
                                    "Please choose your SSH key file.", "Please enter your password."})
            QTest::newRow(message) << QString() << message << false;
        QTest::newRow("error box") << QString()
                                   << "Cannot open \"/home/me/Ombrix Zudodira/html/flvs/my_clip.flv\": No such file "
                                      "or directory"
                                   << true;
        QTest::newRow("short error box") << QString() << "Error" << true;
        // The publish window's two boxes with buttons of their own.
        QTest::newRow("host key question") << QString("HostKeyQuestion") << QString() << false;
        QTest::newRow("published box") << QString("PublishedBox") << QString() << false;
        QTest::newRow("certificate question") << QString("CertificateQuestion") << QString() << false;
        QTest::newRow("plain password warning") << QString("PlainPassword") << QString() << false;
        QTest::newRow("forget site question") << QString("ForgetSite") << QString() << false;
    }
    void everyTextHasRoom()
    {
        QFETCH(QString, window);
        QFETCH(QString, message);
        QFETCH(bool, errorBox);
        QStringList cut;
        bool shown = false;
        if (window == "HostKeyQuestion") {
            cut = cutTextsOfMessage(
                [] {
                    Dialogs::AskChoice(HostKeyQuestionBox("www.my-own-web-host.example",
                                                          "SHA256:8nUKcr3ywHVBkzQMRG1ux6Tg/4ikOrvu3IgY5xNDdUA"));
                },
                shown);
            QVERIFY(shown);
        } else if (window == "CertificateQuestion" || window == "PlainPassword" || window == "ForgetSite") {
            const QString site = "ftp://me@www.my-own-web-host.example/public_html/clips";
            cut = cutTextsOfMessage(
                [&] {
                    Dialogs::AskChoice(
                        window == "PlainPassword" ? PlainPasswordBox(site)
                        : window == "ForgetSite"
                            ? ForgetSiteBox(site)
                            : CertificateQuestionBox("www.my-own-web-host.example",
                                                     "SHA256:3F:A0:9C:11:D2:47:8B:E5:60:1A:BB:C4:79:0E:52:D8:"
                                                     "93:6F:24:AE:01:C7:5B:38:E9:D6:72:4A:10:8F:CD:B5",
                                                     "the certificate's issuer is unknown"));
                },
                shown);
            QVERIFY(shown);
        } else if (window == "PublishedBox") {
            cut = cutTextsOfMessage(
                [] {
                    Publish::Result result;
                    result.Ok = true;
                    result.PageAddress = "https://www.my-own-web-host.example/clips/holiday.html";
                    Dialogs::AskChoice(PublishedBox(result));
                },
                shown);
            QVERIFY(shown);
        } else if (!window.isEmpty()) {
            std::unique_ptr<QWidget> made;
            if (window == "PreviewWindow")
                made = std::make_unique<TPreviewWindow>("http://127.0.0.1:65535/");
            if (window == "PublishWindow")
                made = std::make_unique<TPublishWindow>();
            QWidget* form = made ? made.get() : windowNamed(window);
            form->show();
            QVERIFY(QTest::qWaitForWindowExposed(form));
            cut = cutTexts(form);
            form->hide();
        } else {
            const std::string text = message.toStdString();
            cut = cutTextsOfMessage([&] { errorBox ? Dialogs::ShowErrorBox(text) : Dialogs::ShowMessage(text); },
                                    shown);
            QVERIFY(shown);
        }
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join('\n')));
    }

    void settingsWindowStartsWithTheDesignedChoices()
    {
        auto* combo = Form3->findChild<QComboBox*>("ComboBox1");
        QVERIFY(combo->isEditable());
        QCOMPARE(combo->currentText(), QString("Please choose"));
        auto* group = Form3->findChild<TRadioGroup*>("RadioGroup1");
        QCOMPARE(group->Items(), (QStringList{"2 sec", "3 sec", "5 sec", "8 sec"}));
        QCOMPARE(group->ItemIndex(), -1);
        QCOMPARE(group->Columns(), 4);
        QVERIFY(group->AnchoredToAllSides());
        auto* grid = Form3->findChild<TColorGrid*>("ColorGrid1");
        QCOMPARE(grid->Selection(), 0);
        QVERIFY(grid->ClickEnablesColor());
        QVERIFY(!grid->BackgroundEnabled());
        QCOMPARE(grid->focusPolicy(), Qt::NoFocus);
        QVERIFY(Form3->findChild<QCheckBox*>("CheckBox1")->isChecked());
        QVERIFY(Form3->findChild<QCheckBox*>("CheckBox2")->isChecked());
        for (const char* link : {"Label6", "Label9"}) {
            auto* label = Form3->findChild<QLabel*>(link);
            QVERIFY(label->font().underline() || label->styleSheet().contains("underline"));
            QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);
            label->ensurePolished();
            QCOMPARE(label->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        }
        QCOMPARE(Form3->findChild<QLabel*>("Label6")->toolTip(), QString("http://www.ombrixzidad.example/"));
        QCOMPARE(Form3->findChild<QLabel*>("Label9")->toolTip(),
                 QString("http://www.ombrixzidad.example/affiliate"));
    }

    void radioGroupStretchesWithTheWindow()
    {
        auto* group = Form3->findChild<TRadioGroup*>("RadioGroup1");
        Form3->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form3));
        const QSize before = Form3->size();
        Form3->resize(before + QSize(40, 30));
        QCOMPARE(group->geometry(), QRect(144, 88, 241 + 40, 33 + 30));
        Form3->resize(before);
        QCOMPARE(group->geometry(), QRect(144, 88, 241, 33));
        Form3->hide();
    }

    void settingsWindowTabOrder()
    {
        // Walk the focus chain from CheckBox1, keeping the controls that take
        // the keyboard focus by tabbing.
        const QStringList expected{"CheckBox1", "ComboBox1", "Button1", "RadioGroup1", "Button2",
                                   "CheckBox2", "Edit1",     "Edit2",   "Edit3"};
        QStringList seen;
        QWidget* start = Form3->findChild<QWidget*>("CheckBox1");
        QWidget* current = start;
        do {
            if (current->focusPolicy() & Qt::TabFocus) {
                QWidget* owner = current;
                // A radio button or the combo box's edit stands for its control.
                while (owner->parentWidget() != Form3)
                    owner = owner->parentWidget();
                if (seen.isEmpty() || seen.last() != owner->objectName())
                    seen << owner->objectName();
            }
            current = current->nextInFocusChain();
        } while (current != start && seen.size() < 40);
        seen.removeAll(QString());
        QCOMPARE(seen.mid(0, expected.size()), expected);
    }
};

OZ_TEST_MAIN(DesignTest)
#include "tst_designs.moc"
