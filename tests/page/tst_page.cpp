// "Generate Player": the checks, the page's bytes and the file's fate.
#include "app/ProgramWindows.h"
#include "app/winapp.h"
#include "platform/ColorGrid.h"
#include "platform/RadioGroup.h"
#include "player/PlayerPage.h"
#include "player/Unit3.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>

#include <sys/stat.h>

using namespace TestSupport;

namespace {

void chooseBuffer(int index)
{
    auto* group = Control<TRadioGroup>(Form3, "RadioGroup1");
    QTest::mouseClick(group->findChildren<QAbstractButton*>()[index], Qt::LeftButton);
}

void clickCell(int index)
{
    auto* grid = Control<TColorGrid>(Form3, "ColorGrid1");
    QTest::mouseClick(grid, Qt::LeftButton, {}, grid->CellRect(index).center());
}

void clickBox(const char* name)
{
    QTest::mouseClick(Control<QCheckBox>(Form3, name), Qt::LeftButton, {}, QPoint(8, 8));
}

void typeInto(const char* name, const QString& text)
{
    auto* edit = Control<QLineEdit>(Form3, name);
    QTest::mouseClick(edit, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Tab);
}

void generate()
{
    QTest::mouseClick(Control<QPushButton>(Form3, "Button1"), Qt::LeftButton);
    QCoreApplication::processEvents();
}

// Counts the non-overlapping occurrences of a text.
int occurrences(const QByteArray& haystack, const QByteArray& needle)
{
    int count = 0;
    for (qsizetype at = haystack.indexOf(needle); at >= 0; at = haystack.indexOf(needle, at + needle.size()))
        ++count;
    return count;
}

}  // namespace

class PageTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempProgramFolder> folder;
    std::unique_ptr<DialogRecorder> dialogs;
    QString pagePath;

    QByteArray page() const { return ReadFile(pagePath); }

private slots:
    void init()
    {
        folder = std::make_unique<TempProgramFolder>();
        dialogs = std::make_unique<DialogRecorder>();
        pagePath = folder->QPath() + "html/TempHtml.html";
        StartProgram(App());
        Form1->hide();
        Form3->ShowClip("holiday.flv", "3723");
        Form3->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form3));
    }
    void cleanup()
    {
        App().DestroyForms();
        dialogs.reset();
        folder.reset();
    }

    void theDesignsExamplePage()
    {
        Control<QComboBox>(Form3, "ComboBox1")->setCurrentIndex(0);
        chooseBuffer(1);
        clickCell(9);
        generate();
        QCOMPARE(dialogs->Texts(), std::vector<std::string>{"Web page is built"});
        QCOMPARE(page(), ReadFile(OZ_PAGE_DATA "/golden-160x120.html"));
    }

    void everySizeAndBufferTime_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("buffer");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("240x180, 2 sec") << 1 << 0
                                        << QByteArray(
                                               "width=\"243\" height=\"243\" id=\"flv_player_240x180\"|"
                                               "value=\"flv_player_240x180.swf\"|bufferTime=2&");
        QTest::newRow("320x240, 5 sec") << 2 << 2
                                        << QByteArray(
                                               "width=\"323\" height=\"323\" id=\"flv_player_320x240\"|"
                                               "value=\"flv_player_320x240.swf\"|bufferTime=5&");
        QTest::newRow("640x480, 8 sec") << 3 << 3
                                        << QByteArray(
                                               "width=\"643\" height=\"555\" id=\"flv_player_640x480\"|"
                                               "<embed src=\"flv_player_640x480.swf?|bufferTime=8&|"
                                               "width=\"643\" height=\"555\" name=\"flv_player_640x480\"");
    }
    void everySizeAndBufferTime()
    {
        QFETCH(int, size);
        QFETCH(int, buffer);
        QFETCH(QByteArray, expected);
        Control<QComboBox>(Form3, "ComboBox1")->setCurrentIndex(size);
        chooseBuffer(buffer);
        generate();
        for (const QByteArray& part : expected.split('|'))
            QVERIFY2(page().contains(part), part.constData());
    }

    void nothingChosenAsksForTheSizeFirst()
    {
        generate();
        QCOMPARE(dialogs->Texts(), std::vector<std::string>{"Please select video size"});
        QVERIFY(!QFile::exists(pagePath));

        // An earlier page stays as it was.
        QFile earlier(pagePath);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier page");
        earlier.close();
        chooseBuffer(0);
        generate();
        QCOMPARE(dialogs->Texts().back(), std::string("Please select video size"));
        QCOMPARE(page(), QByteArray("earlier page"));
    }

    void aSizeWithoutABufferTime()
    {
        Control<QComboBox>(Form3, "ComboBox1")->setCurrentIndex(3);
        generate();
        QCOMPARE(dialogs->Texts(), std::vector<std::string>{"Please select buffer time"});
        QVERIFY(!QFile::exists(pagePath));
    }

    void typedSizeTexts_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("an item's text") << "Player with 240x180 video size" << true;
        QTest::newRow("the prompt") << "Please choose" << false;
        QTest::newRow("another size") << "Player with 999x999 video size" << false;
        // The box completes typing to the matching item, whatever the case.
        QTest::newRow("other case") << "player with 240x180 video size" << true;
        QTest::newRow("empty") << "" << false;
    }
    void typedSizeTexts()
    {
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        chooseBuffer(0);
        auto* combo = Control<QComboBox>(Form3, "ComboBox1");
        QTest::mouseClick(combo->lineEdit(), Qt::LeftButton);
        QTest::keyClick(combo->lineEdit(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(combo->lineEdit(), Qt::Key_Backspace);
        QTest::keyClicks(combo->lineEdit(), typed);
        generate();
        if (accepted) {
            QCOMPARE(dialogs->Texts(), std::vector<std::string>{"Web page is built"});
            QVERIFY(page().contains("id=\"flv_player_240x180\""));
        } else {
            QCOMPARE(dialogs->Texts(), std::vector<std::string>{"Please select video size"});
            QVERIFY(!QFile::exists(pagePath));
        }
    }

    void autoStartOffLeavesItsValueEmpty()
    {
        Control<QComboBox>(Form3, "ComboBox1")->setCurrentIndex(0);
        chooseBuffer(1);
        clickBox("CheckBox1");
        generate();
        QCOMPARE(occurrences(page(), "&autoStart=&isLink=1&"), 2);
    }

    // The page for a web site: the same page with one script element after
    // the first line, which sets Ruffle up and loads it from beside the page.
    // Ruffle never shows its splash or play button; the unmute overlay only
    // over a player that starts by itself (the other waits for its own play
    // button, whose click lets sound play).
    void theSitePage_data()
    {
        QTest::addColumn<bool>("autoStart");
        QTest::addColumn<QByteArray>("overlay");
        QTest::newRow("starts by itself") << true << QByteArray("unmuteOverlay: \"visible\"");
        QTest::newRow("waits for play") << false << QByteArray("unmuteOverlay: \"hidden\"");
    }
    void theSitePage()
    {
        QFETCH(bool, autoStart);
        QFETCH(QByteArray, overlay);
        Control<QComboBox>(Form3, "ComboBox1")->setCurrentIndex(1);
        chooseBuffer(0);
        if (!autoStart)
            clickBox("CheckBox1");
        generate();
        QCOMPARE(dialogs->Texts(), std::vector<std::string>{"Web page is built"});
        QByteArray site = ReadFile(folder->QPath() + "html/SitePage.html");
        const qsizetype start = site.indexOf("\r\n") + 2, end = site.indexOf("\r\n", start) + 2;
        const QByteArray script = site.mid(start, end - start);
        QCOMPARE(site.remove(start, end - start), page());
        QVERIFY2(script.startsWith("<script>") && script.endsWith("</script>\r\n") &&
                     script.count("<script") == 1 && script.count("</script>") == 1,
                 script.constData());
        for (const QByteArray& part : {QByteArray("config = {autoplay: \"on\", splashScreen: false, "), overlay,
                                       QByteArray("{src: \"ruffle/ruffle.js\"}")})
            QVERIFY2(script.contains(part), part.constData());
    }

    void linkOffStillWritesCaptionAndAddress()
    {
        Control<QComboBox>(Form3, "ComboBox1")->setCurrentIndex(0);
        chooseBuffer(1);
        clickBox("CheckBox2");
        QVERIFY(!Control<QLineEdit>(Form3, "Edit1")->isVisible());
        generate();
        QCOMPARE(occurrences(page(),
                             "&isLink=0&linkCaption=Ombrix Zidad&webPage=http://www.ombrixzidad.example/\""),
                 2);
    }

    void typedColourThenGridColour()
    {
        Control<QComboBox>(Form3, "ComboBox1")->setCurrentIndex(0);
        chooseBuffer(1);
        typeInto("Edit3", "ff8000");
        generate();
        QCOMPARE(occurrences(page(), "&buttonColor=ff8000&"), 2);
        clickCell(9);
        generate();
        QCOMPARE(occurrences(page(), "&buttonColor=FF0000&"), 2);
    }

    void aColourTypedJustBeforeTheClickCounts()
    {
        Control<QComboBox>(Form3, "ComboBox1")->setCurrentIndex(0);
        chooseBuffer(1);
        auto* edit = Control<QLineEdit>(Form3, "Edit3");
        QTest::mouseClick(edit, Qt::LeftButton);
        QTest::keyClicks(edit, "00ff00");
        generate();  // the click leaves Edit3 first
        QCOMPARE(occurrences(page(), "&buttonColor=00ff00&"), 2);
    }

    void valuesThatWouldBreakThePageAreEncoded()
    {
        Control<QComboBox>(Form3, "ComboBox1")->setCurrentIndex(0);
        chooseBuffer(1);
        Control<QLineEdit>(Form3, "Edit1")
            ->setText(QString::fromUtf8("Tom & \"Jerry\" <b>#1</b> 100% 'ü'+\\"));
        typeInto("Edit2", "http://shop.example/a?x=1&y=2#top");
        Form3->ShowClip("my\"clip.flv", "3723");
        generate();
        const QByteArray variables =
            "file=flvs\\my%22clip.flv&clipLength=3723&buttonColor=000000&bufferTime=3&autoStart=1&isLink=1"
            "&linkCaption=Tom %26 %22Jerry%22 %3Cb%3E%231%3C/b%3E 100%25 %27%C3%BC%27%2B%5C"
            "&webPage=http://shop.example/a?x=1%26y=2%23top";
        QCOMPARE(occurrences(page(), "value=\"" + variables + "\" />"), 1);
        QCOMPARE(occurrences(page(), "?" + variables + "\" quality"), 1);
    }

    void twoPressesWriteTheSameBytes()
    {
        Control<QComboBox>(Form3, "ComboBox1")->setCurrentIndex(2);
        chooseBuffer(2);
        generate();
        const QByteArray first = page();
        QFile::remove(pagePath);
        QFile(pagePath).open(QIODevice::WriteOnly);
        generate();
        QCOMPARE(page(), first);
        QCOMPARE(dialogs->Texts(), (std::vector<std::string>{"Web page is built", "Web page is built"}));
        QCOMPARE(first.count("\r\n"), 4);
        QCOMPARE(first.count('\n'), 4);
        QCOMPARE(first.count('\r'), 4);
        QVERIFY(first.endsWith("</body> </html>\r\n"));
        QVERIFY(first.startsWith("<html> <body>\r\n<br>\r\n<object "));
    }

    void aMissingHtmlFolderReachesTheErrorBox()
    {
        QVERIFY(QDir(folder->QPath() + "html").removeRecursively());
        Control<QComboBox>(Form3, "ComboBox1")->setCurrentIndex(0);
        chooseBuffer(1);
        generate();
        QCOMPARE(dialogs->Messages.size(), std::size_t(1));
        QCOMPARE(dialogs->Messages[0].Kind, Dialogs::MessageKind::Error);
        QVERIFY2(QByteArray::fromStdString(dialogs->Messages[0].Text).contains("No such file or directory"),
                 dialogs->Messages[0].Text.c_str());
        QVERIFY(QByteArray::fromStdString(dialogs->Messages[0].Text).contains("TempHtml.html"));
        // The window stays as it was and can try again.
        QVERIFY(Form3->isVisible());
        QVERIFY(QDir().mkpath(folder->QPath() + "html"));
        generate();
        QCOMPARE(dialogs->Texts().back(), std::string("Web page is built"));
    }

    void aReadOnlyPageReachesTheErrorBox()
    {
        QFile earlier(pagePath);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier page");
        earlier.close();
        QVERIFY(::chmod(pagePath.toLocal8Bit(), 0444) == 0);
        RootOverrideOff asAnOrdinaryUser;
        Control<QComboBox>(Form3, "ComboBox1")->setCurrentIndex(0);
        chooseBuffer(1);
        generate();
        QCOMPARE(dialogs->Messages.size(), std::size_t(1));
        QCOMPARE(dialogs->Messages[0].Kind, Dialogs::MessageKind::Error);
        QVERIFY2(QByteArray::fromStdString(dialogs->Messages[0].Text).contains("Permission denied"),
                 dialogs->Messages[0].Text.c_str());
        QCOMPARE(page(), QByteArray("earlier page"));
    }

    // The page text on its own.
    void thePlayerElementsPieces()
    {
        PlayerPageSettings settings;
        settings.Size = PlayerSizes[0];
        const QByteArray line = QByteArray::fromStdString(PlayerPageText(settings)).split('\n')[2];
        const char* literals[] = {
            "<object classid=\"clsid:d27cdb6e-ae6d-11cf-96b8-444553540000\" ",
            "<param name=\"allowScriptAccess\" value=\"sameDomain\" /> ",
            "\" /><param name=\"quality\" value=\"high\" /> <param name=\"bgcolor\" value=\"#ffffff\" /> "
            "<embed src=\"",
            "\" quality=\"high\" bgcolor=\"#ffffff\" width=\"",
            "\" align=\"middle\"> <param",
            "align=\"middle\" allowScriptAccess=\"sameDomain\" type=\"application/x-shockwave-flash\" "
            "pluginspage=\"",
            "\" /> </object>\r",
        };
        for (const char* literal : literals)
            QVERIFY2(line.contains(literal), literal);
        QVERIFY(line.startsWith(literals[0]));
        QVERIFY(line.endsWith(literals[6]));
        QVERIFY(
            line.contains("codebase=\"https://download.macromedia.com/pub/shockwave/cabs/flash/swflash.cab"
                          "#version=7,0,0,0\" width=\"163\""));
        QVERIFY(line.contains("pluginspage=\"https://www.macromedia.com/go/getflashplayer\" /> </object>"));
        QCOMPARE(QByteArray(literals[0]).size(), 61);
    }

    void valueEncoding_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("plain") << QByteArray("Ombrix Zidad") << QByteArray("Ombrix Zidad");
        QTest::newRow("address") << QByteArray("http://www.ombrixzidad.example/?a=7")
                                 << QByteArray("http://www.ombrixzidad.example/?a=7");
        QTest::newRow("specials") << QByteArray("\"#%&'+<>\\") << QByteArray("%22%23%25%26%27%2B%3C%3E%5C");
        QTest::newRow("controls") << QByteArray("a\tb\r\nc\x7f", 7) << QByteArray("a%09b%0D%0Ac%7F");
        QTest::newRow("nul") << QByteArray("a\0b", 3) << QByteArray("a%00b");
        QTest::newRow("utf-8") << QByteArray("ž") << QByteArray("%C5%BE");
        QTest::newRow("kept punctuation")
            << QByteArray("!$()*,-./:;=?@[]^_`{|}~ ") << QByteArray("!$()*,-./:;=?@[]^_`{|}~ ");
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }
    void valueEncoding()
    {
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, encoded);
        QCOMPARE(QByteArray::fromStdString(EncodePlayerValue(value.toStdString())), encoded);
    }
};

OZ_TEST_MAIN(PageTest)
#include "tst_page.moc"
