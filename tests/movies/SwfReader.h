// A reader of SWF files and action bytecode written from the file format,
// independent of the writer in tools/swfgen, for checking what it writes:
// the header, the tag stream (sprites' tags included), and action lists with
// their branches, function bodies and constant pool.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <stdexcept>

class SwfFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SwfRect {
    int xMin = 0, xMax = 0, yMin = 0, yMax = 0;
    bool operator==(const SwfRect&) const = default;
};

struct SwfTag {
    int code = 0;
    bool longHeader = false;
    QByteArray body;
    int sprite = 0;  // the sprite holding the tag, 0 at the root
};

struct SwfFile {
    QByteArray signature;
    int version = 0;
    quint32 fileLength = 0;
    SwfRect stage;  // twips
    double frameRate = 0;
    int frameCount = 0;
    QList<SwfTag> tags;  // in file order, each sprite's tags after the sprite
};

// Reads an uncompressed ("FWS") file; throws SwfFormatError on anything the
// format does not allow (bad lengths, a tag running past its end, a missing
// End, bytes after it).
SwfFile ReadSwf(const QByteArray& bytes);

// Bit fields, most significant bit first.
class SwfBitReader {
public:
    SwfBitReader(const QByteArray& bytes, int byteOffset);
    quint32 Unsigned(int bits);
    qint32 Signed(int bits);
    SwfRect Rect();
    int BytePosition() const;  // the first byte after the bits read, aligned

private:
    const QByteArray& data;
    qint64 bit;
};

struct PushedValue {
    int type = 0;
    QString text;  // strings, constants resolved through the pool
    double number = 0;
    int constantIndex = -1;
};

struct ActionRecord {
    int offset = 0;
    int code = 0;
    QByteArray payload;
    int branchTarget = -1;  // Jump and If: the offset branched to
    QList<PushedValue> pushed;
};

struct ActionList {
    QStringList constantPool;
    QList<ActionRecord> records;  // function bodies' records included, in order
    int functions = 0;
    QStringList PushedStrings() const;
};

// Walks an action list (a DoAction body); throws SwfFormatError when a record
// runs past its block, a branch lands off a record start or outside its own
// function body, a constant index is outside the pool, or the list does not
// end with the End action.
ActionList ReadActions(const QByteArray& code);
