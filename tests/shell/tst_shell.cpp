// Start-up, window flow, link labels, the general error box and the banner.
#include "app/ConvertDialogBox.h"
#include "app/ProgramWindows.h"
#include "app/winapp.h"
#include "base/Exceptions.h"
#include "platform/JpegImage.h"
#include "player/Unit3.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QWindow>

#include <thread>

using namespace TestSupport;

namespace {

// Runs the event loop until the program ends or the deadline passes; true
// when the program ended by itself.
bool programEndsWithin(int milliseconds)
{
    bool deadlinePassed = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&] {
        deadlinePassed = true;
        QCoreApplication::exit(99);
    });
    deadline.start(milliseconds);
    QCoreApplication::exec();
    return !deadlinePassed;
}

// Shows the settings window as the conversion's hand-over does.
void handOverToSettings()
{
    ConvertDialog->Close();
    Form3->show();
    Form1->hide();
    QVERIFY(QTest::qWaitForWindowActive(Form3));
}

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        SettingsActive = false;
        StartProgram(App());
    }
    void cleanup() { App().DestroyForms(); }

    void startsWithTheMainWindowOnly()
    {
        QCOMPARE(App().Forms().size(), std::size_t(3));
        QCOMPARE(App().Forms()[0], Form1);
        QCOMPARE(App().Forms()[1], Form3);
        QCOMPARE(App().Forms()[2], ConvertDialog);
        QCOMPARE(App().MainForm(), Form1);
        QVERIFY(Form1->isVisible());
        QVERIFY(!Form3->isVisible());
        QVERIFY(!ConvertDialog->isVisible());
        QVERIFY(!ConvertDialog->Showing());
        QVERIFY(!SettingsActive);
        QCOMPARE(TApplication::Title(), std::string("Ombrix Zudodira"));
    }

    void windowsCarryTheirCaptionsAndPlaces()
    {
        QCOMPARE(Form1->windowTitle(), QString("Ombrix Zudodira"));
        QCOMPARE(Form3->windowTitle(), QString("Ombrix Zudodira"));
        QCOMPARE(ConvertDialog->windowTitle(), QString("Converting in progress ..."));
        QCOMPARE(Form1->size(), QSize(553, 553));
        QCOMPARE(Form3->size(), QSize(553, 553));
        // The design's 344 x 79, grown by the progress bar below the label.
        QCOMPARE(ConvertDialog->size(), QSize(344, 103));
        QVERIFY(ConvertDialog->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(ConvertDialog->minimumSize(), ConvertDialog->maximumSize());
        QCOMPARE(Form1->palette().color(QPalette::Window), QColor(192, 220, 192));
        QCOMPARE(Form3->palette().color(QPalette::Window), QColor(192, 220, 192));
        QCOMPARE(ConvertDialog->palette().color(QPalette::Window), QColor(192, 220, 192));
        QVERIFY(!Form1->windowIcon().isNull());
        QVERIFY(!Form3->windowIcon().isNull());
    }

    void activatingTheSettingsWindowMakesItsCloseEndTheProgram()
    {
        handOverToSettings();
        QVERIFY(SettingsActive);
        QVERIFY(!Form1->isVisible());

        QTimer::singleShot(0, Form3, [] { Form3->close(); });
        QVERIFY(programEndsWithin(10000));
        QVERIFY(!Form3->isVisible());
    }

    void convertAnotherClipBringsBackTheMainWindow()
    {
        handOverToSettings();
        Form1->FlvFileName = "clip.flv";
        Form1->ClipLength = "12";

        QTimer::singleShot(
            0, Form3, [] { QTest::mouseClick(Form3->findChild<QPushButton*>("Button2"), Qt::LeftButton); });
        QVERIFY(!programEndsWithin(500));
        QVERIFY(!SettingsActive);
        QVERIFY(Form1->isVisible());
        QVERIFY(!Form3->isVisible());
        QCOMPARE(Form1->FlvFileName, std::string("clip.flv"));
        QCOMPARE(Form1->ClipLength, std::string("12"));

        // Shown and activated again, its close box ends the program again.
        handOverToSettings();
        QVERIFY(SettingsActive);
        QTimer::singleShot(0, Form3, [] { Form3->close(); });
        QVERIFY(programEndsWithin(10000));
    }

    void closingTheMainWindowEndsTheProgram()
    {
        QTimer::singleShot(0, Form1, [] { Form1->close(); });
        QVERIFY(programEndsWithin(10000));
    }

    void theProgressWindowIgnoresItsCloseBox()
    {
        ConvertDialog->Show();
        QVERIFY(QTest::qWaitForWindowExposed(ConvertDialog));
        // Closing through the window system, as the close box does.
        ConvertDialog->windowHandle()->close();
        QVERIFY(ConvertDialog->Showing());
        QVERIFY(ConvertDialog->isVisible());
        ConvertDialog->Close();
        QVERIFY(!ConvertDialog->Showing());
        QVERIFY(!ConvertDialog->isVisible());
    }

    void theProgressWindowCanBeClosedFromAnotherThread()
    {
        ConvertDialog->Show();
        QSignalSpy closed(ConvertDialog, &TConvertDialog::closed);
        std::thread worker([] { ConvertDialog->Close(); });
        worker.join();
        QVERIFY(!ConvertDialog->Showing());
        QVERIFY(closed.wait(10000));
        QVERIFY(!ConvertDialog->isVisible());
    }

    void theProgressBarFollowsTheConverter()
    {
        auto* bar = ConvertDialog->findChild<QProgressBar*>("ProgressBar1");
        QVERIFY(bar);
        ConvertDialog->Show();
        QCOMPARE(bar->maximum(), 0);  // length unknown: busy
        std::thread worker([] {
            ConvertDialog->ReportLength(20.0);
            ConvertDialog->ReportProgress(5.0);
        });
        worker.join();
        QVERIFY(WaitFor([&] { return bar->maximum() == 200 && bar->value() == 50; }, 10000));
        ConvertDialog->ReportProgress(25.0);  // converters may overshoot the length
        QVERIFY(WaitFor([&] { return bar->value() == 200; }, 10000));
        ConvertDialog->Close();
        ConvertDialog->Show();  // a new conversion starts from nothing
        QCOMPARE(bar->maximum(), 0);
        ConvertDialog->Close();
    }

    void linkLabelsOpenTheirHint()
    {
        DialogRecorder dialogs;
        auto* affiliate = Form3->findChild<QLabel*>("Label9");
        QVERIFY(affiliate);
        handOverToSettings();
        QTest::mouseClick(affiliate, Qt::LeftButton);
        Form3->UrlMailClick(Form3->findChild<QLabel*>("Label6"));
        Form3->UrlMailClick(Form3->findChild<QPushButton*>("Button1"));
        Form3->UrlMailClick(nullptr);
        QCOMPARE(dialogs.OpenedAddresses,
                 (std::vector<std::string>{"http://www.ombrixzidad.example/affiliate",
                                           "http://www.ombrixzidad.example/"}));
        QVERIFY(dialogs.Messages.empty());
    }

    void errorBoxText_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("letter") << QByteArray("File not found") << QByteArray("File not found.");
        QTest::newRow("digit") << QByteArray("I/O error 2") << QByteArray("I/O error 2.");
        QTest::newRow("full stop") << QByteArray("Done.") << QByteArray("Done.");
        QTest::newRow("exclamation") << QByteArray("Disk full!") << QByteArray("Disk full!");
        QTest::newRow("comma") << QByteArray("a,") << QByteArray("a,");
        QTest::newRow("empty") << QByteArray("") << QByteArray("");
        QTest::newRow("utf-8 letter")
            << QByteArray("Fichier déjà ouvert à Zürich") << QByteArray("Fichier déjà ouvert à Zürich.");
    }
    void errorBoxText()
    {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, shown);
        QCOMPARE(QByteArray::fromStdString(Dialogs::ErrorBoxText(message.toStdString())), shown);
    }

    void exceptionsFromHandlersReachTheErrorBox()
    {
        DialogRecorder dialogs;
        QTimer::singleShot(0, Form1,
                           [] { throw EInOutError("Cannot open \"x\": No such file or directory", 2); });
        QVERIFY(WaitFor([&] { return !dialogs.Messages.empty(); }, 10000));
        QCOMPARE(dialogs.Messages[0].Kind, Dialogs::MessageKind::Error);
        QCOMPARE(dialogs.Messages[0].Text, std::string("Cannot open \"x\": No such file or directory."));
        // The program carries on.
        QVERIFY(Form1->isVisible());
        QVERIFY(!programEndsWithin(200));
    }

    void bannerDecodesThroughLibjpeg()
    {
        const std::string banner = ReadFile(":/designs/banner.jpg").toStdString();
        QVERIFY(!banner.empty());
        const QImage picture = DecodeJpeg(banner);
        QCOMPARE(picture.size(), QSize(553, 112));
        QVERIFY(!BannerPicture(banner).isNull());
        auto* image = Form1->findChild<QLabel*>("Image1");
        QVERIFY(image);
        QCOMPARE(image->geometry(), QRect(0, 0, 553, 112));
        QCOMPARE(image->pixmap().size(), QSize(553, 112));
    }

    void damagedBannersAreRefusedClearly_data()
    {
        const std::string banner = ReadFile(":/designs/banner.jpg").toStdString();
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not a jpeg") << QByteArray("GIF89a this is not a JPEG picture");
        QTest::newRow("header only") << QByteArray::fromStdString(banner.substr(0, 300));
        QTest::newRow("cut in half") << QByteArray::fromStdString(banner.substr(0, banner.size() / 2));
        std::string scrambled = banner;
        for (std::size_t i = 200; i < scrambled.size(); i += 7)
            scrambled[i] = char(0xFF);
        QTest::newRow("scrambled") << QByteArray::fromStdString(scrambled);
    }
    void damagedBannersAreRefusedClearly()
    {
        QFETCH(QByteArray, bytes);
        try {
            DecodeJpeg(bytes.toStdString());
            QFAIL("a damaged picture was accepted");
        } catch (const Exception& error) {
            QVERIFY2(QByteArray(error.what()).startsWith("The picture"), error.what());
        }
        QVERIFY(BannerPicture(bytes.toStdString()).isNull());
    }
};

OZ_TEST_MAIN(ShellTest)
#include "tst_shell.moc"
