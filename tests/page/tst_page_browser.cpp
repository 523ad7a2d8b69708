// A real browser reads the written page: Debian's headless Chromium loads it,
// and the object's and the embed's attributes and both copies of the player
// variables are read back from its document.
#include "app/ProgramWindows.h"
#include "app/winapp.h"
#include "platform/RadioGroup.h"
#include "player/Unit3.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace TestSupport;

namespace {

// Loads the page in a frame and reports what the browser made of it, as
// base64 JSON so that the document dump does not escape it.
const char* const Harness = R"(<!DOCTYPE html>
<html><body>
<pre id="result">pending</pre>
<iframe id="page" src="html/TempHtml.html"></iframe>
<script>
function attributes(element) {
  const all = {};
  if (element) for (const a of element.attributes) all[a.name] = a.value;
  return all;
}
function variables(text) {
  const values = {};
  const keys = [];
  for (const [key, value] of new URLSearchParams(text)) { values[key] = value; keys.push(key); }
  return {values: values, keys: keys};
}
document.getElementById('page').addEventListener('load', () => {
  const doc = document.getElementById('page').contentDocument;
  const object = doc.querySelector('object');
  const embed = doc.querySelector('embed');
  const params = {};
  if (object) for (const p of object.querySelectorAll('param')) params[p.getAttribute('name')] = p.getAttribute('value');
  const source = embed ? embed.getAttribute('src') : '';
  const report = {
    object: attributes(object), embed: attributes(embed), params: params,
    objectCount: doc.querySelectorAll('object').length, embedCount: doc.querySelectorAll('embed').length,
    embedInsideObject: !!(object && embed && object.contains(embed)),
    flashVars: variables(params.FlashVars || ''),
    embedVars: variables(source.substring(source.indexOf('?') + 1)),
    embedPath: source.substring(0, source.indexOf('?')),
  };
  const json = JSON.stringify(report);
  document.getElementById('result').textContent = btoa(String.fromCharCode(...new TextEncoder().encode(json)));
});
</script>
</body></html>
)";

QString chromium()
{
    for (const char* name : {"chromium", "chromium-browser"}) {
        const QString path = QStandardPaths::findExecutable(name);
        if (!path.isEmpty())
            return path;
    }
    return {};
}

// What the browser read from the page in the program folder.
QJsonObject readInBrowser(const QString& programFolder)
{
    QFile harness(programFolder + "harness.html");
    if (!harness.open(QIODevice::WriteOnly))
        return {};
    harness.write(Harness);
    harness.close();

    QTemporaryDir profile;
    QProcess browser;
    browser.setProcessChannelMode(QProcess::SeparateChannels);
    browser.start(chromium(),
                  {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                   "--disable-background-networking", "--disable-component-update", "--disable-sync",
                   "--user-data-dir=" + profile.path(), "--allow-file-access-from-files",
                   "--virtual-time-budget=20000", "--dump-dom", "file://" + programFolder + "harness.html"});
    if (!browser.waitForFinished(180000)) {
        browser.kill();
        browser.waitForFinished();
        qWarning("the browser did not finish");
        return {};
    }
    const QString dump = QString::fromUtf8(browser.readAllStandardOutput());
    const auto match = QRegularExpression(R"(<pre id="result">([A-Za-z0-9+/=]+)</pre>)").match(dump);
    if (!match.hasMatch()) {
        qWarning("no result in the browser's document:\n%s\n%s", qPrintable(dump.left(2000)),
                 browser.readAllStandardError().left(2000).constData());
        return {};
    }
    return QJsonDocument::fromJson(QByteArray::fromBase64(match.captured(1).toLatin1())).object();
}

}  // namespace

class PageBrowserTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (chromium().isEmpty())
            QSKIP("Chromium is not installed (./test installs it)");
    }

    void theBrowserReadsBackWhatTheUserChose_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("clip");
        QTest::newRow("plain") << "Ombrix Zidad"
                               << "http://www.ombrixzidad.example/"
                               << "holiday.flv";
        QTest::newRow("hostile") << QString::fromUtf8("Tom & \"Jerry\" <b>#1</b> 100% 'Žužu'+\\ end")
                                 << "http://shop.example/a?x=1&y=2#top"
                                 << "my \"clip\" #2.flv";
    }
    void theBrowserReadsBackWhatTheUserChose()
    {
        QFETCH(QString, caption);
        QFETCH(QString, address);
        QFETCH(QString, clip);
        TempProgramFolder folder;
        DialogRecorder dialogs;
        StartProgram(App());
        Form1->hide();
        Form3->ShowClip(clip.toStdString(), "95");
        Control<QComboBox>(Form3, "ComboBox1")->setCurrentIndex(1);
        Control<TRadioGroup>(Form3, "RadioGroup1")->setItemIndex(2);
        Control<QLineEdit>(Form3, "Edit1")->setText(caption);
        Control<QLineEdit>(Form3, "Edit2")->setText(address);
        Form3->Button1Click();
        App().DestroyForms();
        QCOMPARE(dialogs.Texts(), std::vector<std::string>{"Web page is built"});

        const QJsonObject report = readInBrowser(folder.QPath());
        QVERIFY(!report.isEmpty());
        QCOMPARE(report["objectCount"].toInt(), 1);
        QCOMPARE(report["embedCount"].toInt(), 1);
        QVERIFY(report["embedInsideObject"].toBool());

        const QJsonObject object = report["object"].toObject();
        QCOMPARE(object["classid"].toString(), QString("clsid:d27cdb6e-ae6d-11cf-96b8-444553540000"));
        QCOMPARE(object["width"].toString(), QString("243"));
        QCOMPARE(object["height"].toString(), QString("243"));
        QCOMPARE(object["id"].toString(), QString("flv_player_240x180"));
        QCOMPARE(object["align"].toString(), QString("middle"));
        const QJsonObject params = report["params"].toObject();
        QCOMPARE(params["movie"].toString(), QString("flv_player_240x180.swf"));
        QCOMPARE(params["allowScriptAccess"].toString(), QString("sameDomain"));
        QCOMPARE(params["quality"].toString(), QString("high"));
        QCOMPARE(params["bgcolor"].toString(), QString("#ffffff"));
        const QJsonObject embed = report["embed"].toObject();
        QCOMPARE(report["embedPath"].toString(), QString("flv_player_240x180.swf"));
        QCOMPARE(embed["width"].toString(), QString("243"));
        QCOMPARE(embed["height"].toString(), QString("243"));
        QCOMPARE(embed["name"].toString(), QString("flv_player_240x180"));
        QCOMPARE(embed["type"].toString(), QString("application/x-shockwave-flash"));
        QCOMPARE(embed["pluginspage"].toString(), QString("https://www.macromedia.com/go/getflashplayer"));

        const QJsonObject expected{{"file", "flvs\\" + clip}, {"clipLength", "95"}, {"buttonColor", "000000"},
                                   {"bufferTime", "5"},       {"autoStart", "1"},   {"isLink", "1"},
                                   {"linkCaption", caption},  {"webPage", address}};
        const QJsonArray keys{"file",      "clipLength", "buttonColor", "bufferTime",
                              "autoStart", "isLink",     "linkCaption", "webPage"};
        for (const char* copy : {"flashVars", "embedVars"}) {
            const QJsonObject variables = report[copy].toObject();
            QCOMPARE(variables["keys"].toArray(), keys);
            QCOMPARE(variables["values"].toObject(), expected);
        }
    }
};

OZ_TEST_MAIN(PageBrowserTest)
#include "tst_page_browser.moc"
