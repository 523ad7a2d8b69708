// The four player movies the build wrote into the program folder's html/,
// read back by a reader written from the SWF format: header, stage size, tag
// stream, the display list the script relies on, and the script itself.
#include "SwfReader.h"
#include "support/TestSupport.h"
#include "swfgen/PlayerMovie.h"

#include <QFile>
#include <QMap>
#include <QSet>

namespace {

enum Tag {
    End = 0,
    ShowFrame = 1,
    SetBackgroundColor = 9,
    DoAction = 12,
    PlaceObject2 = 26,
    DefineShape3 = 32,
    DefineEditText = 37,
    DefineSprite = 39,
    DefineFont2 = 48,
    DefineVideoStream = 60,
    FileAttributes = 69
};

struct Placed {
    int sprite = 0;
    int character = 0;
    QString name;
    int x = 0, y = 0;  // twips
};

Placed readPlacement(const SwfTag& tag)
{
    Placed placed;
    placed.sprite = tag.sprite;
    const QByteArray& body = tag.body;
    const int flags = quint8(body[0]);
    if (flags & 0x01)
        throw SwfFormatError("the movies only place new characters");
    if (flags & (0x08 | 0x10 | 0x40 | 0x80))
        throw SwfFormatError("placement fields the movies never write");
    int at = 3;
    if (flags & 0x02) {
        placed.character = quint8(body[at]) | (quint8(body[at + 1]) << 8);
        at += 2;
    }
    if (flags & 0x04) {
        SwfBitReader bits(body, at);
        if (bits.Unsigned(1)) {  // scale
            const int n = int(bits.Unsigned(5));
            bits.Signed(n);
            bits.Signed(n);
        }
        if (bits.Unsigned(1))
            throw SwfFormatError("rotation in a placement");
        const int n = int(bits.Unsigned(5));
        placed.x = bits.Signed(n);
        placed.y = bits.Signed(n);
        at = bits.BytePosition();
    }
    if (flags & 0x20)
        placed.name = QString::fromUtf8(body.mid(at, body.indexOf('\0', at) - at));
    return placed;
}

int characterId(const SwfTag& tag)
{
    return quint8(tag.body[0]) | (quint8(tag.body[1]) << 8);
}

bool definesCharacter(int code)
{
    return code == DefineShape3 || code == DefineEditText || code == DefineSprite || code == DefineFont2 ||
           code == DefineVideoStream;
}

}  // namespace

class SwfMoviesTest : public QObject {
    Q_OBJECT

    SwfFile movie;
    PlayerSize size;

private slots:
    // Each test runs once per movie.
    void initTestCase_data()
    {
        QTest::addColumn<int>("index");
        for (int index = 0; index < int(PlayerSizes.size()); ++index)
            QTest::newRow(PlayerMovieName(PlayerSizes[index]).c_str()) << index;
    }

    void init()
    {
        QFETCH_GLOBAL(int, index);
        size = PlayerSizes[index];
        QFile file(QString(OZ_PROGRAM_FOLDER "/html/") + QString::fromStdString(PlayerMovieName(size)));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName() + " is missing"));
        try {
            movie = ReadSwf(file.readAll());
        } catch (const SwfFormatError& error) {
            QFAIL(error.what());
        }
    }

    void header()
    {
        QCOMPARE(movie.signature, QByteArray("FWS"));
        QCOMPARE(movie.version, 8);
        QCOMPARE(movie.stage, (SwfRect{0, size.stageWidth * 20, 0, size.stageHeight * 20}));
        QCOMPARE(movie.frameRate, 25.0);
        const auto rootFrames = std::count_if(movie.tags.begin(), movie.tags.end(), [](const SwfTag& tag) {
            return tag.code == ShowFrame && tag.sprite == 0;
        });
        QCOMPARE(movie.frameCount, 1);
        QCOMPARE(rootFrames, 1);
    }

    // Every character is defined once, before anything places it; the tags
    // a player with a stream, buttons and texts needs are all there.
    void tags()
    {
        QVERIFY(!movie.tags.isEmpty());
        QCOMPARE(movie.tags.first().code, int(FileAttributes));  // first in SWF 8
        QSet<int> codes;
        QSet<int> defined;
        for (const SwfTag& tag : movie.tags) {
            codes.insert(tag.code);
            if (definesCharacter(tag.code)) {
                QVERIFY2(!defined.contains(characterId(tag)), "a character id used twice");
                defined.insert(characterId(tag));
            }
            if (tag.code == PlaceObject2) {
                try {
                    const Placed placed = readPlacement(tag);
                    QVERIFY2(defined.contains(placed.character),
                             "a placement before its character's definition");
                } catch (const SwfFormatError& error) {
                    QFAIL(error.what());
                }
            }
            QCOMPARE(tag.longHeader, tag.body.size() >= 63);
        }
        for (const int code : {SetBackgroundColor, DefineShape3, DefineSprite, DefineFont2, DefineEditText,
                               DefineVideoStream, PlaceObject2, DoAction, ShowFrame, End})
            QVERIFY2(codes.contains(code), qPrintable(QString("no tag %1").arg(code)));
    }

    // The video: a stream of the size's width and height for Sorenson H.263,
    // without embedded frames, placed at the top of the stage.
    void video()
    {
        const auto stream = std::find_if(movie.tags.begin(), movie.tags.end(),
                                         [](const SwfTag& tag) { return tag.code == DefineVideoStream; });
        QVERIFY(stream != movie.tags.end());
        const QByteArray& body = stream->body;
        QCOMPARE(body.size(), 10);
        auto u16 = [&](int at) { return quint8(body[at]) | (quint8(body[at + 1]) << 8); };
        QCOMPARE(u16(2), 0);
        QCOMPARE(u16(4), size.videoWidth);
        QCOMPARE(u16(6), size.videoHeight);
        QCOMPARE(int(body[9]), 2);
        bool placed = false;
        for (const SwfTag& tag : movie.tags) {
            if (tag.code == PlaceObject2 && readPlacement(tag).character == characterId(*stream)) {
                const Placed video = readPlacement(tag);
                QCOMPARE(video.sprite, 0);
                QCOMPARE(video.name, QString("video"));
                QCOMPARE(QPoint(video.x, video.y), QPoint(20, 20));
                placed = true;
            }
        }
        QVERIFY(placed);
    }

    // The script is well formed, reads the page's eight variables and uses
    // the instance names the display list gives.
    void script()
    {
        const auto action = std::find_if(movie.tags.begin(), movie.tags.end(),
                                         [](const SwfTag& tag) { return tag.code == DoAction; });
        QVERIFY(action != movie.tags.end());
        QCOMPARE(action->sprite, 0);
        ActionList list;
        try {
            list = ReadActions(action->body);
        } catch (const SwfFormatError& error) {
            QFAIL(error.what());
        }
        QVERIFY(list.functions > 0);
        const QStringList strings = list.PushedStrings();
        for (const char* variable : {"file", "clipLength", "buttonColor", "bufferTime", "autoStart", "isLink",
                                     "linkCaption", "webPage"})
            QVERIFY2(strings.contains(variable), variable);
        QStringList names;
        for (const SwfTag& tag : movie.tags) {
            if (tag.code == PlaceObject2 && !readPlacement(tag).name.isEmpty())
                names << readPlacement(tag).name;
        }
        for (const char* name : {"video", "progress", "fill", "playButton", "stopButton", "face", "playIcon",
                                 "pauseIcon", "stopIcon", "timeText", "link", "label"}) {
            QVERIFY2(names.contains(name), name);
            QVERIFY2(strings.contains(name), name);
        }
    }
};

OZ_TEST_MAIN(SwfMoviesTest)
#include "tst_swfmovies.moc"
