#include "swfgen/ActionWriter.h"

#include <bit>
#include <cmath>
#include <limits>

namespace swf {

namespace {

constexpr std::size_t MaxRecordLength = 0xFFFF;

bool FitsInteger(double number)
{
    // Integral values in 32-bit range go as integers; -0 must stay a double.
    return std::isfinite(number) && number == std::trunc(number) &&
           number >= std::numeric_limits<std::int32_t>::min() &&
           number <= std::numeric_limits<std::int32_t>::max() && !(number == 0 && std::signbit(number));
}

}  // namespace

ActionWriter::ActionWriter() = default;

void ActionWriter::Emit(Action action)
{
    if (static_cast<unsigned>(action) >= 0x80)
        throw FormatError("action needs a payload");
    code.U8(static_cast<unsigned>(action));
}

void ActionWriter::Record(Action action, const Bytes& payload)
{
    if (payload.size() > MaxRecordLength)
        throw FormatError("action payload longer than 65535 bytes");
    code.U8(static_cast<unsigned>(action));
    code.U16(static_cast<unsigned>(payload.size()));
    code.Append(payload);
}

void ActionWriter::WriteValue(ByteWriter& out, const PushValue& value)
{
    switch (value.kind) {
        case PushValue::Kind::String: {
            auto found = poolIndex.find(value.text);
            if (found == poolIndex.end() && pool.size() < 0xFFFF &&
                poolBytes + value.text.size() + 1 <= MaxRecordLength) {
                ByteWriter check;
                check.String(value.text);  // refuses NUL before the pool takes it
                found = poolIndex.emplace(value.text, pool.size()).first;
                pool.push_back(value.text);
                poolBytes += value.text.size() + 1;
            }
            if (found == poolIndex.end()) {
                // The pool is full: the string goes inline.
                out.U8(static_cast<unsigned>(PushType::String));
                out.String(value.text);
            } else if (found->second < 256) {
                out.U8(static_cast<unsigned>(PushType::Constant8));
                out.U8(static_cast<unsigned>(found->second));
            } else {
                out.U8(static_cast<unsigned>(PushType::Constant16));
                out.U16(static_cast<unsigned>(found->second));
            }
            break;
        }
        case PushValue::Kind::Number:
            if (FitsInteger(value.number)) {
                out.U8(static_cast<unsigned>(PushType::Integer));
                out.U32(static_cast<std::uint32_t>(static_cast<std::int32_t>(value.number)));
            } else {
                // Doubles are stored as two little-endian 32-bit words, high word first.
                const auto raw = std::bit_cast<std::uint64_t>(value.number);
                out.U8(static_cast<unsigned>(PushType::Double));
                out.U32(static_cast<std::uint32_t>(raw >> 32));
                out.U32(static_cast<std::uint32_t>(raw & 0xFFFFFFFFu));
            }
            break;
        case PushValue::Kind::Boolean:
            out.U8(static_cast<unsigned>(PushType::Boolean));
            out.U8(value.boolean ? 1 : 0);
            break;
        case PushValue::Kind::Null:
            out.U8(static_cast<unsigned>(PushType::Null));
            break;
        case PushValue::Kind::Undefined:
            out.U8(static_cast<unsigned>(PushType::Undefined));
            break;
        case PushValue::Kind::Register:
            out.U8(static_cast<unsigned>(PushType::Register));
            out.U8(value.reg);
            break;
    }
}

void ActionWriter::Push(const std::vector<PushValue>& values)
{
    ByteWriter payload;
    for (const PushValue& value : values) {
        ByteWriter one;
        WriteValue(one, value);
        if (payload.Size() + one.Size() > MaxRecordLength) {
            Record(Action::Push, payload.Data());
            payload = ByteWriter();
        }
        payload.Append(one.Data());
    }
    if (payload.Size() > 0)
        Record(Action::Push, payload.Data());
}

void ActionWriter::StoreRegister(std::uint8_t reg)
{
    Record(Action::StoreRegister, {reg});
}

void ActionWriter::GetUrl2()
{
    Record(Action::GetUrl2, {0x00});  // no variables sent, a browser window as target
}

ActionWriter::Label ActionWriter::NewLabel()
{
    labels.push_back(-1);
    labelScopes.push_back(0);
    return {static_cast<int>(labels.size() - 1)};
}

void ActionWriter::Bind(Label label)
{
    if (label.index < 0 || label.index >= static_cast<int>(labels.size()))
        throw FormatError("unknown label");
    if (labels[label.index] >= 0)
        throw FormatError("label bound twice");
    labels[label.index] = static_cast<long>(code.Size());
    labelScopes[label.index] = CurrentScope();
}

void ActionWriter::AddBranch(Action action, Label label)
{
    if (label.index < 0 || label.index >= static_cast<int>(labels.size()))
        throw FormatError("unknown label");
    Record(action, {0, 0});
    branches.push_back({code.Size() - 2, label.index, CurrentScope()});
}

void ActionWriter::Jump(Label label)
{
    AddBranch(Action::Jump, label);
}

void ActionWriter::If(Label label)
{
    AddBranch(Action::If, label);
}

int ActionWriter::CurrentScope() const
{
    return functions.empty() ? 0 : functions.back().scope;
}

void ActionWriter::BeginFunction2(const std::string& name, const std::vector<std::string>& parameters)
{
    ByteWriter header;
    header.String(name);
    header.U16(static_cast<unsigned>(parameters.size()));
    header.U8(4);   // registers, for the function's temporaries
    header.U16(0);  // flags: this, arguments and super made as usual, nothing preloaded
    for (const std::string& parameter : parameters) {
        header.U8(0);  // by name, not in a register
        header.String(parameter);
    }
    header.U16(0);  // body size, filled in by EndFunction
    Record(Action::DefineFunction2, header.Data());
    functions.push_back({code.Size() - 2, code.Size(), nextScope++});
}

void ActionWriter::EndFunction()
{
    if (functions.empty())
        throw FormatError("EndFunction without BeginFunction2");
    const OpenFunction open = functions.back();
    functions.pop_back();
    const std::size_t size = code.Size() - open.bodyStart;
    if (size > 0xFFFF)
        throw FormatError("function body longer than 65535 bytes");
    code.PatchU16(open.sizeField, static_cast<unsigned>(size));
}

Bytes ActionWriter::Finish() const
{
    if (!functions.empty())
        throw FormatError("function body not ended");
    ByteWriter resolved = code;
    for (const auto& branch : branches) {
        const long target = labels[branch.label];
        if (target < 0)
            throw FormatError("branch to a label never bound");
        if (labelScopes[branch.label] != branch.scope)
            throw FormatError("branch across a function boundary");
        const long offset = target - static_cast<long>(branch.offsetField + 2);
        if (offset < -32768 || offset > 32767)
            throw FormatError("branch offset out of range");
        resolved.PatchU16(branch.offsetField, static_cast<unsigned>(offset) & 0xFFFF);
    }

    ByteWriter out;
    if (!pool.empty()) {
        ByteWriter payload;
        payload.U16(static_cast<unsigned>(pool.size()));
        for (const std::string& text : pool)
            payload.String(text);
        out.U8(static_cast<unsigned>(Action::ConstantPool));
        out.U16(static_cast<unsigned>(payload.Size()));
        out.Append(payload.Data());
    }
    out.Append(resolved.Data());
    out.U8(static_cast<unsigned>(Action::End));
    return out.Take();
}

}  // namespace swf
