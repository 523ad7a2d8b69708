// The trickier parts of swfgen's writer and assembler, read back with the
// independent reader: branch offsets, function body sizes, the constant
// pool, string and number encoding, tag headers and bit-packed rectangles.
#include "SwfReader.h"
#include "support/TestSupport.h"
#include "swfgen/ActionWriter.h"
#include "swfgen/Script.h"

#include <cmath>
#include <functional>
#include <limits>

using swf::Action;
using swf::ActionWriter;
using swf::PushValue;

namespace {

QByteArray bytes(const swf::Bytes& data)
{
    return QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
}

ActionList assemble(const std::function<void(ActionWriter&)>& program)
{
    ActionWriter out;
    program(out);
    return ReadActions(bytes(out.Finish()));
}

const ActionRecord& recordWithCode(const ActionList& list, int code, int nth = 0)
{
    for (const ActionRecord& record : list.records) {
        if (record.code == code && nth-- == 0)
            return record;
    }
    throw SwfFormatError("no such record");
}

}  // namespace

class SwfWriterTest : public QObject {
    Q_OBJECT

private slots:
    // Each program branches once; the branch must land on the record that
    // follows the label (the Pop), measured from the end of the branch.
    void branchOffsets_data()
    {
        QTest::addColumn<std::function<void(ActionWriter&)>>("program");
        QTest::addColumn<int>("branchCode");

        QTest::newRow("jump forward over a push")
            << std::function<void(ActionWriter&)>([](ActionWriter& out) {
                   const auto label = out.NewLabel();
                   out.Jump(label);
                   out.Push({PushValue::Str("skipped")});
                   out.Bind(label);
                   out.Emit(Action::Pop);
               })
            << 0x99;
        QTest::newRow("if backward to a loop's head")
            << std::function<void(ActionWriter&)>([](ActionWriter& out) {
                   const auto label = out.NewLabel();
                   out.Push({PushValue::Num(1)});
                   out.Bind(label);
                   out.Emit(Action::Pop);
                   out.Push({PushValue::Bool(false)});
                   out.If(label);
               })
            << 0x9D;
        QTest::newRow("jump to itself") << std::function<void(ActionWriter&)>([](ActionWriter& out) {
            const auto label = out.NewLabel();
            out.Emit(Action::Pop);
            out.Bind(label);
            out.Jump(label);
        }) << 0x99;
        QTest::newRow("inside a function body after the pool grew")
            << std::function<void(ActionWriter&)>([](ActionWriter& out) {
                   out.Push({PushValue::Str("before")});
                   out.BeginFunction2("f", {"a"});
                   const auto label = out.NewLabel();
                   out.Push({PushValue::Str("a")});
                   out.Emit(Action::GetVariable);
                   out.If(label);
                   out.Push({PushValue::Str("later")});
                   out.Bind(label);
                   out.Emit(Action::Pop);
                   out.EndFunction();
               })
            << 0x9D;
    }

    void branchOffsets()
    {
        QFETCH(std::function<void(ActionWriter&)>, program);
        QFETCH(int, branchCode);
        try {
            const ActionList list = assemble(program);
            const ActionRecord& branch = recordWithCode(list, branchCode);
            const ActionRecord* target = nullptr;
            for (const ActionRecord& record : list.records) {
                if (record.offset == branch.branchTarget)
                    target = &record;
            }
            QVERIFY(target);
            if (branch.branchTarget != branch.offset)  // "jump to itself" lands on the jump
                QCOMPARE(target->code, int(Action::Pop));
        } catch (const std::exception& error) {
            QFAIL(error.what());
        }
    }

    void branchFaults_data()
    {
        QTest::addColumn<std::function<void(ActionWriter&)>>("program");

        QTest::newRow("label never bound")
            << std::function<void(ActionWriter&)>([](ActionWriter& out) { out.Jump(out.NewLabel()); });
        QTest::newRow("label bound twice") << std::function<void(ActionWriter&)>([](ActionWriter& out) {
            const auto label = out.NewLabel();
            out.Bind(label);
            out.Bind(label);
        });
        QTest::newRow("out of a function body") << std::function<void(ActionWriter&)>([](ActionWriter& out) {
            const auto outside = out.NewLabel();
            out.BeginFunction2("", {});
            out.Jump(outside);
            out.EndFunction();
            out.Bind(outside);
        });
        QTest::newRow("into a function body") << std::function<void(ActionWriter&)>([](ActionWriter& out) {
            const auto inside = out.NewLabel();
            out.Jump(inside);
            out.BeginFunction2("", {});
            out.Bind(inside);
            out.EndFunction();
        });
        QTest::newRow("farther than 32767 bytes")
            << std::function<void(ActionWriter&)>([](ActionWriter& out) {
                   const auto far = out.NewLabel();
                   out.Jump(far);
                   for (int i = 0; i < 4200; ++i)  // 8 bytes each
                       out.Push({PushValue::Num(i)});
                   out.Bind(far);
               });
        QTest::newRow("function never ended")
            << std::function<void(ActionWriter&)>([](ActionWriter& out) { out.BeginFunction2("", {}); });
    }

    void branchFaults()
    {
        QFETCH(std::function<void(ActionWriter&)>, program);
        ActionWriter out;
        QVERIFY_THROWS_EXCEPTION(swf::FormatError, {
            program(out);
            out.Finish();
        });
    }

    // Nested function bodies: each size covers exactly its body, so the
    // reader finds every record on its own boundary.
    void functionBodies()
    {
        using namespace swf::script;
        ActionWriter out;
        EmitBlock(out,
                  {Set("outer", Function({"x", "y"}, {
                                                         Set("inner", Function({}, {Return(Var("x"))})),
                                                         If(Less(Var("x"), Var("y")), {Return(Var("y"))}),
                                                         Return(Var("x")),
                                                     }))});
        try {
            const ActionList list = ReadActions(bytes(out.Finish()));
            QCOMPARE(list.functions, 2);
            // A body runs from the end of its header to the SetVariable that
            // stores the function.
            auto bodySize = [](const ActionRecord& function) {
                const QByteArray& header = function.payload;
                return quint8(header[header.size() - 2]) | (quint8(header.back()) << 8);
            };
            auto bodyStart = [](const ActionRecord& function) {
                return function.offset + 3 + int(function.payload.size());
            };
            const ActionRecord& outer = recordWithCode(list, 0x8E, 0);
            const ActionRecord& inner = recordWithCode(list, 0x8E, 1);
            QCOMPARE(bodyStart(outer) + bodySize(outer),
                     recordWithCode(list, int(Action::SetVariable), 1).offset);
            QCOMPARE(bodyStart(inner) + bodySize(inner),
                     recordWithCode(list, int(Action::SetVariable), 0).offset);
            QCOMPARE(list.records.back().code, int(Action::SetVariable));
        } catch (const std::exception& error) {
            QFAIL(error.what());
        }
    }

    void constantPool()
    {
        try {
            ActionWriter out;
            out.Push({PushValue::Str("same"), PushValue::Str("same")});
            for (int i = 0; i < 300; ++i)
                out.Push({PushValue::Str("name" + std::to_string(i))});
            const ActionList list = ReadActions(bytes(out.Finish()));
            QCOMPARE(list.constantPool.size(), 301);
            const ActionRecord& first = list.records[1];  // after the pool
            QCOMPARE(first.pushed.size(), 2);
            QCOMPARE(first.pushed[0].type, 8);
            QCOMPARE(first.pushed[1].constantIndex, 0);
            const PushedValue& beyondByte = list.records.back().pushed[0];
            QCOMPARE(beyondByte.type, 9);
            QCOMPARE(beyondByte.constantIndex, 300);
            QCOMPARE(beyondByte.text, QString("name299"));
        } catch (const std::exception& error) {
            QFAIL(error.what());
        }
    }

    // The pool record holds at most 65535 bytes; strings beyond go inline.
    void constantPoolFull()
    {
        try {
            ActionWriter out;
            QStringList pushed;
            for (int i = 0; i < 80; ++i) {
                const std::string text = std::to_string(i) + std::string(1000, 'x');
                out.Push({PushValue::Str(text)});
                pushed << QString::fromStdString(text);
            }
            const swf::Bytes code = out.Finish();
            const ActionList list = ReadActions(bytes(code));
            QCOMPARE(list.PushedStrings(), pushed);
            QVERIFY(list.constantPool.size() < 80);
            QCOMPARE(list.records.back().pushed[0].type, 0);
            QVERIFY(list.records.front().payload.size() <= 0xFFFF);
        } catch (const std::exception& error) {
            QFAIL(error.what());
        }
    }

    void strings()
    {
        ActionWriter out;
        const std::string text =
            "Gr\xC3\xBC\xC3\x9F"
            "e \\ \"&\"";
        out.Push({PushValue::Str(text)});
        const ActionList list = ReadActions(bytes(out.Finish()));
        QCOMPARE(list.constantPool, QStringList{QString::fromUtf8(text.c_str())});
        QVERIFY_THROWS_EXCEPTION(swf::FormatError, out.Push({PushValue::Str(std::string("a\0b", 3))}));
    }

    // Integral values in 32-bit range go as integers, others as doubles with
    // the high word first.
    void numbers_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("encoded");

        QTest::newRow("2") << 2.0 << 7 << QByteArray::fromHex("02000000");
        QTest::newRow("-1") << -1.0 << 7 << QByteArray::fromHex("ffffffff");
        QTest::newRow("0.5") << 0.5 << 6 << QByteArray::fromHex("0000e03f00000000");
        QTest::newRow("1/3") << 1.0 / 3 << 6 << QByteArray::fromHex("5555d53f55555555");
        QTest::newRow("-0") << -0.0 << 6 << QByteArray::fromHex("0000008000000000");
        QTest::newRow("3e9, past 32 bits") << 3e9 << 6 << QByteArray::fromHex("0b5ae641000000c0");
    }

    void numbers()
    {
        QFETCH(double, value);
        QFETCH(int, type);
        QFETCH(QByteArray, encoded);
        ActionWriter out;
        out.Push({PushValue::Num(value)});
        const ActionList list = ReadActions(bytes(out.Finish()));
        const ActionRecord& push = list.records.first();
        QCOMPARE(push.pushed.first().type, type);
        QCOMPARE(push.payload.mid(1), encoded);
        QCOMPARE(push.pushed.first().number, value);
    }

    void tagHeaders_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("longHeader");
        QTest::newRow("empty") << 0 << false;
        QTest::newRow("62 bytes") << 62 << false;
        QTest::newRow("63 bytes") << 63 << true;
        QTest::newRow("70000 bytes") << 70000 << true;
    }

    void tagHeaders()
    {
        QFETCH(int, length);
        QFETCH(bool, longHeader);
        const QByteArray tag = bytes(swf::Tag(swf::TagCode::DoAction, swf::Bytes(std::size_t(length), 0x17)));
        const int header = quint8(tag[0]) | (quint8(tag[1]) << 8);
        QCOMPARE(header >> 6, 12);
        if (longHeader) {
            QCOMPARE(header & 0x3F, 0x3F);
            QCOMPARE(tag.size(), 6 + length);
            QCOMPARE(quint8(tag[2]) | (quint8(tag[3]) << 8) | (quint8(tag[4]) << 16), length);
        } else {
            QCOMPARE(header & 0x3F, length);
            QCOMPARE(tag.size(), 2 + length);
        }
    }

    void rectangles_data()
    {
        QTest::addColumn<int>("xMin");
        QTest::addColumn<int>("xMax");
        QTest::addColumn<int>("yMin");
        QTest::addColumn<int>("yMax");
        QTest::addColumn<int>("bits");
        QTest::newRow("largest stage") << 0 << 12860 << 0 << 11100 << 15;
        QTest::newRow("negative corner") << -1 << 20 << -4096 << 4095 << 13;
        QTest::newRow("all zero") << 0 << 0 << 0 << 0 << 1;
    }

    void rectangles()
    {
        QFETCH(int, xMin);
        QFETCH(int, xMax);
        QFETCH(int, yMin);
        QFETCH(int, yMax);
        QFETCH(int, bits);
        swf::BitWriter out;
        swf::WriteRect(out, {xMin, xMax, yMin, yMax});
        const QByteArray data = bytes(out.Take());
        QCOMPARE(data.size(), (5 + 4 * bits + 7) / 8);
        SwfBitReader in(data, 0);
        QCOMPARE(int(in.Unsigned(5)), bits);
        SwfBitReader again(data, 0);
        QCOMPARE(again.Rect(), (SwfRect{xMin, xMax, yMin, yMax}));
    }

    // The reader is only worth its checks if it refuses broken input.
    void readerRefuses_data()
    {
        QTest::addColumn<QByteArray>("actions");
        QTest::newRow("branch into a push") << QByteArray::fromHex(
            "990200ffff"
            "960500070100000000");
        QTest::newRow("record past the end") << QByteArray::fromHex(
            "96090007010000"
            "00");
        QTest::newRow("constant outside the pool") << QByteArray::fromHex(
            "880400"
            "01006100"
            "9602000801"
            "00");
        QTest::newRow("function body past its block") << QByteArray::fromHex(
            "8e0800"
            "0000000000001000"
            "00");
        QTest::newRow("no End action") << QByteArray::fromHex("17");
    }

    void readerRefuses()
    {
        QFETCH(QByteArray, actions);
        QVERIFY_THROWS_EXCEPTION(SwfFormatError, ReadActions(actions));
    }
};

OZ_TEST_MAIN(SwfWriterTest)
#include "tst_swfwriter.moc"
