#include "SwfReader.h"

#include <QSet>

#include <bit>
#include <cstring>

namespace {

[[noreturn]] void fail(const QString& what)
{
    throw SwfFormatError(what.toStdString());
}

class ByteReader {
public:
    ByteReader(const QByteArray& bytes, int from, int to) : data(bytes), at(from), end(to)
    {
        if (from < 0 || to > bytes.size() || from > to)
            fail("field range outside the data");
    }
    quint32 U8()
    {
        need(1);
        return quint8(data[at++]);
    }
    quint32 U16()
    {
        const quint32 low = U8();
        return low | (U8() << 8);
    }
    qint32 S16() { return qint16(U16()); }
    quint32 U32()
    {
        const quint32 low = U16();
        return low | (U16() << 16);
    }
    QString String()
    {
        const int zero = data.indexOf('\0', at);
        if (zero < 0 || zero >= end)
            fail("string without its NUL");
        const QString text = QString::fromUtf8(data.mid(at, zero - at));
        at = zero + 1;
        return text;
    }
    QByteArray Bytes(int count)
    {
        need(count);
        const QByteArray bytes = data.mid(at, count);
        at += count;
        return bytes;
    }
    int Position() const { return at; }
    void Seek(int position) { at = position; }
    int Left() const { return end - at; }

private:
    void need(int count)
    {
        if (count < 0 || at + count > end)
            fail(QString("field runs past its end at byte %1").arg(at));
    }
    const QByteArray& data;
    int at;
    int end;
};

void readTags(const QByteArray& bytes, int from, int to, int sprite, QList<SwfTag>& tags)
{
    ByteReader in(bytes, from, to);
    for (;;) {
        if (in.Left() < 2)
            fail("tag stream ends without an End tag");
        const quint32 header = in.U16();
        SwfTag tag;
        tag.code = int(header >> 6);
        tag.sprite = sprite;
        quint32 length = header & 0x3F;
        if (length == 0x3F) {
            length = in.U32();
            tag.longHeader = true;
        }
        if (length > quint32(in.Left()))
            fail(QString("tag %1 runs past the end of its container").arg(tag.code));
        const int bodyStart = in.Position();
        tag.body = in.Bytes(int(length));
        tags.push_back(tag);
        if (tag.code == 39) {  // DefineSprite: id, frame count, then its own tags
            const int id = int(ByteReader(bytes, bodyStart, bodyStart + 2).U16());
            readTags(bytes, bodyStart + 4, bodyStart + int(length), id, tags);
        }
        if (tag.code == 0) {
            if (in.Left() != 0)
                fail("bytes after the End tag");
            return;
        }
    }
}

// Reads the records of one block (the whole list or a function body).
void readBlock(const QByteArray& code, int from, int to, ActionList& list)
{
    ByteReader in(code, from, to);
    QSet<int> starts;
    QList<qsizetype> branches;
    while (in.Left() > 0) {
        ActionRecord record;
        record.offset = in.Position();
        record.code = int(in.U8());
        if (record.code == 0)
            fail(QString("End action inside the list at %1").arg(record.offset));
        starts.insert(record.offset);
        if (record.code >= 0x80)
            record.payload = in.Bytes(int(in.U16()));
        const int next = in.Position();
        ByteReader payload(record.payload, 0, int(record.payload.size()));
        switch (record.code) {
            case 0x88: {  // ConstantPool
                list.constantPool.clear();
                const int count = int(payload.U16());
                for (int i = 0; i < count; ++i)
                    list.constantPool << payload.String();
                break;
            }
            case 0x96:  // Push
                while (payload.Left() > 0) {
                    PushedValue value;
                    value.type = int(payload.U8());
                    switch (value.type) {
                        case 0:
                            value.text = payload.String();
                            break;
                        case 1: {
                            const quint32 raw = payload.U32();
                            value.number = std::bit_cast<float>(raw);
                            break;
                        }
                        case 2:
                        case 3:
                            break;
                        case 4:
                        case 5:
                            value.number = payload.U8();
                            break;
                        case 6: {
                            const quint64 high = payload.U32();
                            value.number = std::bit_cast<double>((high << 32) | payload.U32());
                            break;
                        }
                        case 7:
                            value.number = qint32(payload.U32());
                            break;
                        case 8:
                        case 9:
                            value.constantIndex = int(value.type == 8 ? payload.U8() : payload.U16());
                            if (value.constantIndex >= list.constantPool.size())
                                fail(QString("constant %1 outside a pool of %2")
                                         .arg(value.constantIndex)
                                         .arg(list.constantPool.size()));
                            value.text = list.constantPool[value.constantIndex];
                            break;
                        default:
                            fail(QString("unknown push type %1").arg(value.type));
                    }
                    record.pushed << value;
                }
                break;
            case 0x99:  // Jump
            case 0x9D:  // If
                if (record.payload.size() != 2)
                    fail("branch without its 16-bit offset");
                record.branchTarget = next + payload.S16();
                branches << list.records.size();
                break;
            case 0x8E: {  // DefineFunction2
                payload.String();
                const int parameters = int(payload.U16());
                payload.U8();   // registers
                payload.U16();  // flags
                for (int i = 0; i < parameters; ++i) {
                    payload.U8();
                    payload.String();
                }
                const int size = int(payload.U16());
                if (payload.Left() != 0)
                    fail("function header longer than its fields");
                if (next + size > to)
                    fail("function body runs past its block");
                ++list.functions;
                list.records << record;
                readBlock(code, next, next + size, list);
                in.Seek(next + size);
                continue;
            }
            default:
                break;
        }
        list.records << record;
    }
    starts.insert(to);  // a branch may go to the end of its block
    for (const qsizetype index : branches) {
        const ActionRecord& branch = list.records[index];
        if (branch.branchTarget < from || branch.branchTarget > to || !starts.contains(branch.branchTarget))
            fail(QString("branch at %1 lands at %2, not on a record of its block")
                     .arg(branch.offset)
                     .arg(branch.branchTarget));
    }
}

}  // namespace

SwfBitReader::SwfBitReader(const QByteArray& bytes, int byteOffset) : data(bytes), bit(qint64(byteOffset) * 8)
{
}

quint32 SwfBitReader::Unsigned(int bits)
{
    quint32 value = 0;
    for (int i = 0; i < bits; ++i, ++bit) {
        if (bit / 8 >= data.size())
            fail("bit field runs past the data");
        value = (value << 1) | ((quint8(data[bit / 8]) >> (7 - bit % 8)) & 1);
    }
    return value;
}

qint32 SwfBitReader::Signed(int bits)
{
    const quint32 value = Unsigned(bits);
    if (bits > 0 && bits < 32 && (value >> (bits - 1)) & 1)
        return qint32(value | ~((1u << bits) - 1));
    return qint32(value);
}

SwfRect SwfBitReader::Rect()
{
    const int bits = int(Unsigned(5));
    SwfRect rect;
    rect.xMin = Signed(bits);
    rect.xMax = Signed(bits);
    rect.yMin = Signed(bits);
    rect.yMax = Signed(bits);
    return rect;
}

int SwfBitReader::BytePosition() const
{
    return int((bit + 7) / 8);
}

SwfFile ReadSwf(const QByteArray& bytes)
{
    if (bytes.size() < 8)
        fail("shorter than the header");
    SwfFile file;
    file.signature = bytes.left(3);
    if (file.signature != "FWS")
        fail("signature is not FWS");
    ByteReader header(bytes, 3, 8);
    file.version = int(header.U8());
    file.fileLength = header.U32();
    if (file.fileLength != quint32(bytes.size()))
        fail(QString("file length field %1, file has %2 bytes").arg(file.fileLength).arg(bytes.size()));
    SwfBitReader bits(bytes, 8);
    file.stage = bits.Rect();
    ByteReader rest(bytes, bits.BytePosition(), int(bytes.size()));
    file.frameRate = rest.U16() / 256.0;
    file.frameCount = int(rest.U16());
    readTags(bytes, rest.Position(), int(bytes.size()), 0, file.tags);
    return file;
}

QStringList ActionList::PushedStrings() const
{
    QStringList strings;
    for (const ActionRecord& record : records) {
        for (const PushedValue& value : record.pushed) {
            if (value.type == 0 || value.type == 8 || value.type == 9)
                strings << value.text;
        }
    }
    return strings;
}

ActionList ReadActions(const QByteArray& code)
{
    if (code.isEmpty() || code.back() != '\0')
        fail("action list does not end with the End action");
    ActionList list;
    readBlock(code, 0, int(code.size()) - 1, list);
    return list;
}
