// Colour texts, the swatch rule, number texts and the colour grid control.
#include "base/Convert.h"
#include "base/Exceptions.h"
#include "platform/ColorGrid.h"
#include "player/ColorText.h"
#include "support/TestSupport.h"

#include <QSignalSpy>

class ColourTest : public QObject {
    Q_OBJECT

private slots:
    void gridCellsHaveTheirColourTexts_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("cell");
        const char* texts[] = {"000000", "800000", "008000", "808000", "000080", "800080",
                               "408080", "C0C0C0", "808080", "FF0000", "00FF00", "FFFF00",
                               "0000FF", "FF00FF", "00FFFF", "FFFFFF"};
        const QColor cells[] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
        for (int i = 0; i < 16; ++i)
            QTest::newRow(qPrintable(QString::number(i))) << i << QString(texts[i]) << cells[i];
        QTest::newRow("-1") << -1 << QString() << QColor();
        QTest::newRow("16") << 16 << QString() << QColor();
        QTest::newRow("most negative") << int(0x80000000) << QString() << QColor();
    }
    void gridCellsHaveTheirColourTexts()
    {
        QFETCH(int, index);
        QFETCH(QString, text);
        QFETCH(QColor, cell);
        QCOMPARE(QString::fromStdString(SmeniBoja(index)), text);
        QCOMPARE(TColorGrid::CellColor(index), cell);
    }

    void pairsAreReversed_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("reversed");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("orange") << "FF8000"
                                << "0080FF";
        QTest::newRow("digits") << "123456"
                                << "563412";
        QTest::newRow("case kept") << "ab12Cd"
                                   << "Cd12ab";
        QTest::newRow("one pair") << "AB"
                                  << "AB";
    }
    void pairsAreReversed()
    {
        QFETCH(QString, text);
        QFETCH(QString, reversed);
        QCOMPARE(QString::fromStdString(IzvrtiBoja(text.toStdString())), reversed);
    }

    void swatchColours_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("swatch");
        QTest::newRow("empty is black") << "" << QColor(0, 0, 0);
        QTest::newRow("orange") << "FF8000" << QColor(255, 128, 0);
        QTest::newRow("lower case") << "ff8000" << QColor(255, 128, 0);
        QTest::newRow("teal cell text") << "408080" << QColor(64, 128, 128);
        QTest::newRow("white") << "FFFFFF" << QColor(255, 255, 255);
    }
    void swatchColours()
    {
        QFETCH(QString, text);
        QFETCH(QColor, swatch);
        QCOMPARE(PreviewColor(text.toStdString()), swatch);
    }

    void numberTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        QTest::newRow("decimal") << "3723" << true << 3723;
        QTest::newRow("negative") << "-5" << true << -5;
        QTest::newRow("hex") << "$000080FF" << true << 0x80FF;
        QTest::newRow("hex lower") << "$ff" << true << 255;
        QTest::newRow("hex alone") << "$00" << true << 0;
        QTest::newRow("full 32 bits") << "$FFFFFFFF" << true << -1;
        QTest::newRow("largest") << "2147483647" << true << 2147483647;
        QTest::newRow("smallest") << "-2147483648" << true << int(0x80000000);
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("dollar only") << "$" << false << 0;
        QTest::newRow("letters") << "N/" << false << 0;
        QTest::newRow("trailing junk") << "12a" << false << 0;
        QTest::newRow("bad hex") << "$1G" << false << 0;
        QTest::newRow("too large") << "2147483648" << false << 0;
        QTest::newRow("too many hex digits") << "$100000000" << false << 0;
        QTest::newRow("blank") << " 1" << false << 0;
    }
    void numberTexts()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, value);
        try {
            const int converted = StrToInt(text.toStdString());
            QVERIFY2(valid, "an invalid text was converted");
            QCOMPARE(converted, value);
        } catch (const EConvertError& error) {
            QVERIFY2(!valid, error.what());
            QVERIFY(QString(error.what()).contains(text));
        }
    }

    void colourDigits()
    {
        const std::string accepted = "1234567890AaBbCcDdEeFf";
        for (int c = 0; c < 256; ++c)
            QCOMPARE(IsColourDigit(char(c)), c != 0 && accepted.find(char(c)) != std::string::npos);
    }

    // The grid control on its own, 104 x 88 as in the settings window.
    void gridPicksWithEitherButton()
    {
        TColorGrid grid;
        grid.resize(104, 88);
        grid.setClickEnablesColor(true);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QSignalSpy clicks(&grid, &TColorGrid::clicked);

        QCOMPARE(grid.Selection(), 0);
        QCOMPARE(grid.CellRect(9), QRect(26, 44, 26, 22));
        QTest::mouseClick(&grid, Qt::LeftButton, {}, grid.CellRect(9).center());
        QCOMPARE(grid.Selection(), 9);
        QCOMPARE(grid.ForegroundIndex(), 9);
        QCOMPARE(clicks.count(), 1);
        QVERIFY(!grid.BackgroundEnabled());

        // The right button switches the background marker on and reports its
        // release wherever it happens.
        QTest::mousePress(&grid, Qt::RightButton, {}, grid.CellRect(6).center());
        QTest::mouseRelease(&grid, Qt::RightButton, {}, QPoint(300, 300));
        QCOMPARE(grid.Selection(), 6);
        QCOMPARE(grid.BackgroundIndex(), 6);
        QCOMPARE(grid.ForegroundIndex(), 9);
        QVERIFY(grid.BackgroundEnabled());
        QCOMPARE(clicks.count(), 2);

        // The left button released off the grid picks but reports nothing.
        QTest::mousePress(&grid, Qt::LeftButton, {}, grid.CellRect(15).center());
        QTest::mouseRelease(&grid, Qt::LeftButton, {}, QPoint(-20, 10));
        QCOMPARE(grid.Selection(), 15);
        QCOMPARE(clicks.count(), 2);
    }

    void draggingMovesTheSelection()
    {
        TColorGrid grid;
        grid.resize(104, 88);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QSignalSpy clicks(&grid, &TColorGrid::clicked);
        QTest::mousePress(&grid, Qt::LeftButton, {}, grid.CellRect(0).center());
        QMouseEvent move(QEvent::MouseMove, QPointF(grid.CellRect(10).center()),
                         grid.mapToGlobal(QPointF(grid.CellRect(10).center())), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(&grid, &move);
        QCOMPARE(grid.Selection(), 10);
        QCOMPARE(clicks.count(), 0);
        // Beyond the edge the selection stays on the nearest cell.
        QMouseEvent away(QEvent::MouseMove, QPointF(500, -40), grid.mapToGlobal(QPointF(500, -40)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&grid, &away);
        QCOMPARE(grid.Selection(), 3);
        QTest::mouseRelease(&grid, Qt::LeftButton, {}, grid.CellRect(3).center());
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(grid.ForegroundIndex(), 3);
    }
};

OZ_TEST_MAIN(ColourTest)
#include "tst_colours.moc"
