// The settings window driven as a user drives it: mouse clicks, typing and
// real focus changes.
#include "app/ProgramWindows.h"
#include "app/winapp.h"
#include "platform/ColorGrid.h"
#include "platform/RadioGroup.h"
#include "player/ColorText.h"
#include "player/Unit3.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

using namespace TestSupport;

namespace {

QLineEdit* edit3()
{
    return Control<QLineEdit>(Form3, "Edit3");
}

TColorGrid* grid()
{
    return Control<TColorGrid>(Form3, "ColorGrid1");
}

QColor swatch()
{
    return Control<QWidget>(Form3, "Panel1")->palette().color(QPalette::Window);
}

void showSettings()
{
    Form1->hide();
    Form3->show();
    Form3->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Form3));
}

void clickCell(int index, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mouseClick(grid(), button, {}, grid()->CellRect(index).center());
}

// Clicks into Edit3, replaces its text by typing, and leaves it with Tab.
void typeColour(const QString& text, bool leave = true)
{
    QTest::mouseClick(edit3(), Qt::LeftButton);
    QVERIFY(edit3()->hasFocus());
    QTest::keyClick(edit3(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit3(), Qt::Key_Backspace);
    QTest::keyClicks(edit3(), text);
    if (leave) {
        QTest::keyClick(edit3(), Qt::Key_Tab);
        QVERIFY(!edit3()->hasFocus());
    }
}

}  // namespace

class SettingsTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        StartProgram(App());
        showSettings();
    }
    void cleanup() { App().DestroyForms(); }

    void choicesWithoutAnyUserAction()
    {
        auto* combo = Control<QComboBox>(Form3, "ComboBox1");
        QCOMPARE(combo->currentText(), QString("Please choose"));
        QCOMPARE(combo->currentIndex(), -1);
        QCOMPARE(combo->count(), 4);
        QCOMPARE(combo->itemText(0), QString("Player with 160x120 video size"));
        QCOMPARE(combo->itemText(3), QString("Player with 640x480 video size"));
        QCOMPARE(Control<TRadioGroup>(Form3, "RadioGroup1")->ItemIndex(), -1);
        QCOMPARE(grid()->Selection(), 0);
        QCOMPARE(SmeniBoja(grid()->Selection()), std::string("000000"));
        QVERIFY(Control<QCheckBox>(Form3, "CheckBox1")->isChecked());
        QVERIFY(Control<QCheckBox>(Form3, "CheckBox2")->isChecked());
        QCOMPARE(Control<QLineEdit>(Form3, "Edit1")->text(), QString("Ombrix Zidad"));
        QCOMPARE(Control<QLineEdit>(Form3, "Edit2")->text(), QString("http://www.ombrixzidad.example/"));
        QCOMPARE(edit3()->text(), QString());
        QVERIFY(!CustomColorValid);
    }

    void gridClicksFillTheColourBox_data()
    {
        QTest::addColumn<int>("cell");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("shown");
        QTest::newRow("row 2, column 1") << 9 << "FF0000" << QColor(255, 0, 0);
        QTest::newRow("row 1, column 2") << 6 << "408080" << QColor(64, 128, 128);
        QTest::newRow("row 0, column 0") << 0 << "000000" << QColor(0, 0, 0);
        QTest::newRow("row 3, column 3") << 15 << "FFFFFF" << QColor(255, 255, 255);
    }
    void gridClicksFillTheColourBox()
    {
        QFETCH(int, cell);
        QFETCH(QString, text);
        QFETCH(QColor, shown);
        DialogRecorder dialogs;
        clickCell(cell);
        QCOMPARE(grid()->Selection(), cell);
        QCOMPARE(edit3()->text(), text);
        QCOMPARE(swatch(), shown);
        QVERIFY(!CustomColorValid);
        QVERIFY(dialogs.Messages.empty());
        // The right button picks too.
        clickCell(3, Qt::RightButton);
        QCOMPARE(edit3()->text(), QString("808000"));
    }

    void aTypedColourIsTakenWhenLeavingTheBox()
    {
        DialogRecorder dialogs;
        typeColour("ff8000");
        QVERIFY(CustomColorValid);
        QCOMPARE(swatch(), QColor(255, 128, 0));
        QCOMPARE(edit3()->text(), QString("ff8000"));
        QVERIFY(dialogs.Messages.empty());
    }

    void badTypedColoursAreRefused_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");
        const QString length = "Please enter 6 digit hexadecimal number (e.g. FFFFFF for white)";
        const QString digit = "Please enter valid hexadecimal digit";
        QTest::newRow("three characters") << "FFF" << length;
        QTest::newRow("seven characters") << "FFFFFF0" << length;
        QTest::newRow("one bad digit") << "12345G" << digit;
        QTest::newRow("two bad digits") << "1G34Z6" << digit;
        QTest::newRow("leading blank") << " 12345" << digit;
        QTest::newRow("hex prefix") << "$12345" << digit;
    }
    void badTypedColoursAreRefused()
    {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        DialogRecorder dialogs;
        typeColour("00FF00");
        QVERIFY(CustomColorValid);
        QCOMPARE(swatch(), QColor(0, 255, 0));

        typeColour(typed);
        QCOMPARE(dialogs.Texts(), std::vector<std::string>{message.toStdString()});
        QVERIFY(!CustomColorValid);
        QCOMPARE(swatch(), QColor(0, 255, 0));
        QCOMPARE(edit3()->text(), typed);

        // With no typed colour in force, leaving an emptied box changes nothing.
        typeColour("");
        QCOMPARE(dialogs.Texts().size(), std::size_t(1));
        QVERIFY(!CustomColorValid);
        QCOMPARE(swatch(), QColor(0, 255, 0));
    }

    void anEmptiedBoxHandsTheColourBackToTheGrid()
    {
        DialogRecorder dialogs;
        clickCell(12);
        typeColour("ff8000");
        QVERIFY(CustomColorValid);
        typeColour("");
        QVERIFY(!CustomColorValid);
        QCOMPARE(swatch(), QColor(0, 0, 255));
        QVERIFY(dialogs.Messages.empty());
    }

    void aGridClickWhileTypingReplacesTheText()
    {
        DialogRecorder dialogs;
        typeColour("00ff00");
        QVERIFY(CustomColorValid);
        typeColour("12", false);
        QVERIFY(edit3()->hasFocus());
        clickCell(9);
        // The grid never takes the focus, so the box was not left.
        QVERIFY(edit3()->hasFocus());
        QCOMPARE(edit3()->text(), QString("FF0000"));
        QCOMPARE(swatch(), QColor(255, 0, 0));
        QVERIFY(CustomColorValid);
        QVERIFY(dialogs.Messages.empty());
    }

    void leavingTheWindowIsNotLeavingTheBox()
    {
        DialogRecorder dialogs;
        typeColour("FFF", false);
        Form1->show();
        Form1->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form1));
        QVERIFY(dialogs.Messages.empty());
        showSettings();
    }

    void pressingAButtonLeavesTheBoxFirst()
    {
        DialogRecorder dialogs;
        // A good colour is taken before the button's own work: here the
        // page writer's size check speaks after it.
        typeColour("0000ff", false);
        QTest::mouseClick(Control<QPushButton>(Form3, "Button1"), Qt::LeftButton);
        QVERIFY(CustomColorValid);
        QCOMPARE(dialogs.Texts(), std::vector<std::string>{"Please select video size"});

        // A bad one is reported, and the click is not carried out behind the
        // message.
        dialogs.Messages.clear();
        typeColour("FFF", false);
        QTest::mouseClick(Control<QPushButton>(Form3, "Button1"), Qt::LeftButton);
        QCOMPARE(dialogs.Texts(),
                 std::vector<std::string>{"Please enter 6 digit hexadecimal number (e.g. FFFFFF for white)"});
        QVERIFY(!CustomColorValid);
        QVERIFY(!Control<QPushButton>(Form3, "Button1")->isDown());
        // The next click, after the event loop has run as it does between
        // two clicks of a user, works as usual.
        QCoreApplication::processEvents();
        QTest::mouseClick(Control<QPushButton>(Form3, "Button1"), Qt::LeftButton);
        QCOMPARE(dialogs.Texts().back(), std::string("Please select video size"));
    }

    void theLinkBoxUnchecksAndChecks()
    {
        auto* box = Control<QCheckBox>(Form3, "CheckBox2");
        Control<QLineEdit>(Form3, "Edit1")->setText("My caption");
        const char* linked[] = {"Label7", "Edit1", "Label8", "Edit2"};
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
        QVERIFY(!box->isChecked());
        for (const char* name : linked)
            QVERIFY2(!Control<QWidget>(Form3, name)->isVisible(), name);
        QVERIFY(Control<QWidget>(Form3, "Label9")->isVisible());
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
        QVERIFY(box->isChecked());
        for (const char* name : linked)
            QVERIFY2(Control<QWidget>(Form3, name)->isVisible(), name);
        QCOMPARE(Control<QLineEdit>(Form3, "Edit1")->text(), QString("My caption"));
        QCOMPARE(Control<QLineEdit>(Form3, "Edit2")->text(), QString("http://www.ombrixzidad.example/"));
    }

    void settingsPersistAcrossConversions()
    {
        DialogRecorder dialogs;
        auto* combo = Control<QComboBox>(Form3, "ComboBox1");
        combo->setCurrentIndex(2);
        auto* group = Control<TRadioGroup>(Form3, "RadioGroup1");
        QTest::mouseClick(group->findChildren<QAbstractButton*>()[3], Qt::LeftButton);
        QCOMPARE(group->ItemIndex(), 3);
        clickCell(13);
        typeColour("abcdef");
        QTest::mouseClick(Control<QCheckBox>(Form3, "CheckBox1"), Qt::LeftButton, {}, QPoint(8, 8));
        QVERIFY(!Control<QCheckBox>(Form3, "CheckBox1")->isChecked());

        QTest::mouseClick(Control<QPushButton>(Form3, "Button2"), Qt::LeftButton);
        QVERIFY(!Form3->isVisible());
        QVERIFY(Form1->isVisible());
        showSettings();

        QCOMPARE(combo->currentIndex(), 2);
        QCOMPARE(combo->currentText(), QString("Player with 320x240 video size"));
        QCOMPARE(group->ItemIndex(), 3);
        QCOMPARE(grid()->Selection(), 13);
        QCOMPARE(edit3()->text(), QString("abcdef"));
        QVERIFY(CustomColorValid);
        QCOMPARE(swatch(), QColor(0xAB, 0xCD, 0xEF));
        QVERIFY(!Control<QCheckBox>(Form3, "CheckBox1")->isChecked());
        QVERIFY(dialogs.Messages.empty());
    }
};

OZ_TEST_MAIN(SettingsTest)
#include "tst_settings.moc"
