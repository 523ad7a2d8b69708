// An assembler for ActionScript 1/2 action bytecode, the body of a DoAction
// tag: labels with branch offsets worked out at the end, function bodies with
// their sizes filled in, and a constant pool that strings go into as they are
// pushed.
#pragma once

#include "swfgen/SwfWriter.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace swf {

enum class Action : std::uint8_t {
    End = 0x00,
    Stop = 0x07,
    Subtract = 0x0B,
    Multiply = 0x0C,
    Divide = 0x0D,
    Not = 0x12,
    Pop = 0x17,
    GetVariable = 0x1C,
    SetVariable = 0x1D,
    DefineLocal = 0x3C,
    CallFunction = 0x3D,
    Return = 0x3E,
    Modulo = 0x3F,
    NewObject = 0x40,
    Add2 = 0x47,
    Less2 = 0x48,
    Equals2 = 0x49,
    PushDuplicate = 0x4C,
    GetMember = 0x4E,
    SetMember = 0x4F,
    CallMethod = 0x52,
    BitAnd = 0x60,
    BitRShift = 0x64,
    Greater = 0x67,
    // Actions from 0x80 on carry a 16-bit length and a payload.
    StoreRegister = 0x87,
    ConstantPool = 0x88,
    DefineFunction2 = 0x8E,
    Push = 0x96,
    Jump = 0x99,
    GetUrl2 = 0x9A,
    If = 0x9D,
};

// Type bytes of the values of a Push action.
enum class PushType : std::uint8_t {
    String = 0,
    Null = 2,
    Undefined = 3,
    Register = 4,
    Boolean = 5,
    Double = 6,
    Integer = 7,
    Constant8 = 8,
    Constant16 = 9,
};

struct PushValue {
    enum class Kind { String, Number, Boolean, Null, Undefined, Register } kind = Kind::Undefined;
    std::string text;
    double number = 0;
    bool boolean = false;
    std::uint8_t reg = 0;

    static PushValue Str(std::string text) { return {Kind::String, std::move(text), 0, false, 0}; }
    static PushValue Num(double number) { return {Kind::Number, {}, number, false, 0}; }
    static PushValue Bool(bool value) { return {Kind::Boolean, {}, 0, value, 0}; }
    static PushValue Null() { return {Kind::Null, {}, 0, false, 0}; }
    static PushValue Undefined() { return {Kind::Undefined, {}, 0, false, 0}; }
    static PushValue Register(std::uint8_t reg) { return {Kind::Register, {}, 0, false, reg}; }
};

class ActionWriter {
public:
    struct Label {
        int index = -1;
    };

    ActionWriter();

    void Emit(Action action);  // an action without payload
    void Push(const std::vector<PushValue>& values);
    void StoreRegister(std::uint8_t reg);
    // getURL(url, target) with both taken from the stack, target on top.
    void GetUrl2();

    Label NewLabel();
    void Bind(Label label);
    void Jump(Label label);
    void If(Label label);  // branch when the popped value is true

    // An anonymous or named function; the parameters become local variables
    // of that name. Between Begin and End the writer emits the body.
    void BeginFunction2(const std::string& name, const std::vector<std::string>& parameters);
    void EndFunction();

    // The action list: the constant pool, the code, and the End action.
    Bytes Finish() const;

    // Strings in the constant pool, in index order.
    const std::vector<std::string>& Pool() const { return pool; }

private:
    struct PendingBranch {
        std::size_t offsetField;  // where the 16-bit offset goes
        int label;
        int scope;
    };
    struct OpenFunction {
        std::size_t sizeField;
        std::size_t bodyStart;
        int scope;
    };

    void Record(Action action, const Bytes& payload);
    void AddBranch(Action action, Label label);
    void WriteValue(ByteWriter& out, const PushValue& value);
    int CurrentScope() const;

    ByteWriter code;
    std::vector<std::string> pool;
    std::map<std::string, std::size_t> poolIndex;
    std::size_t poolBytes = 2;  // the count field
    std::vector<long> labels;   // code position, or -1 while unbound
    std::vector<int> labelScopes;
    std::vector<PendingBranch> branches;
    std::vector<OpenFunction> functions;
    int nextScope = 1;
};

}  // namespace swf
