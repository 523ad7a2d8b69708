#include "swfgen/Script.h"

namespace swf::script {

namespace {

Expr Constant(PushValue value)
{
    return {[value](ActionWriter& out) { out.Push({value}); }};
}

Expr Binary(Expr a, Expr b, Action action)
{
    return {[a, b, action](ActionWriter& out) {
        a.write(out);
        b.write(out);
        out.Emit(action);
    }};
}

// Arguments go last to first, then their count.
void EmitArguments(ActionWriter& out, const std::vector<Expr>& arguments)
{
    for (auto it = arguments.rbegin(); it != arguments.rend(); ++it)
        it->write(out);
    out.Push({PushValue::Num(static_cast<double>(arguments.size()))});
}

}  // namespace

Expr Str(std::string text)
{
    return Constant(PushValue::Str(std::move(text)));
}

Expr Num(double number)
{
    return Constant(PushValue::Num(number));
}

Expr Bool(bool value)
{
    return Constant(PushValue::Bool(value));
}

Expr Null()
{
    return Constant(PushValue::Null());
}

Expr Undefined()
{
    return Constant(PushValue::Undefined());
}

Expr Var(std::string name)
{
    return {[name](ActionWriter& out) {
        out.Push({PushValue::Str(name)});
        out.Emit(Action::GetVariable);
    }};
}

Expr Member(Expr object, std::string name)
{
    return {[object, name](ActionWriter& out) {
        object.write(out);
        out.Push({PushValue::Str(name)});
        out.Emit(Action::GetMember);
    }};
}

Expr Call(std::string function, std::vector<Expr> arguments)
{
    return {[function, arguments](ActionWriter& out) {
        EmitArguments(out, arguments);
        out.Push({PushValue::Str(function)});
        out.Emit(Action::CallFunction);
    }};
}

Expr Method(Expr object, std::string name, std::vector<Expr> arguments)
{
    return {[object, name, arguments](ActionWriter& out) {
        EmitArguments(out, arguments);
        object.write(out);
        out.Push({PushValue::Str(name)});
        out.Emit(Action::CallMethod);
    }};
}

Expr New(std::string className, std::vector<Expr> arguments)
{
    return {[className, arguments](ActionWriter& out) {
        EmitArguments(out, arguments);
        out.Push({PushValue::Str(className)});
        out.Emit(Action::NewObject);
    }};
}

Expr Function(std::vector<std::string> parameters, Block body)
{
    return {[parameters, body](ActionWriter& out) {
        out.BeginFunction2("", parameters);
        EmitBlock(out, body);
        out.EndFunction();
    }};
}

Expr operator+(Expr a, Expr b)
{
    return Binary(std::move(a), std::move(b), Action::Add2);
}

Expr operator-(Expr a, Expr b)
{
    return Binary(std::move(a), std::move(b), Action::Subtract);
}

Expr operator*(Expr a, Expr b)
{
    return Binary(std::move(a), std::move(b), Action::Multiply);
}

Expr operator/(Expr a, Expr b)
{
    return Binary(std::move(a), std::move(b), Action::Divide);
}

Expr operator%(Expr a, Expr b)
{
    return Binary(std::move(a), std::move(b), Action::Modulo);
}

Expr operator&(Expr a, Expr b)
{
    return Binary(std::move(a), std::move(b), Action::BitAnd);
}

Expr operator>>(Expr a, Expr b)
{
    return Binary(std::move(a), std::move(b), Action::BitRShift);
}

Expr Equals(Expr a, Expr b)
{
    return Binary(std::move(a), std::move(b), Action::Equals2);
}

Expr Less(Expr a, Expr b)
{
    return Binary(std::move(a), std::move(b), Action::Less2);
}

Expr Greater(Expr a, Expr b)
{
    return Binary(std::move(a), std::move(b), Action::Greater);
}

Expr Not(Expr a)
{
    return {[a](ActionWriter& out) {
        a.write(out);
        out.Emit(Action::Not);
    }};
}

Expr And(Expr a, Expr b)
{
    return {[a, b](ActionWriter& out) {
        const auto done = out.NewLabel();
        a.write(out);
        out.Emit(Action::PushDuplicate);
        out.Emit(Action::Not);
        out.If(done);  // false: keep a as the result
        out.Emit(Action::Pop);
        b.write(out);
        out.Bind(done);
    }};
}

Expr Or(Expr a, Expr b)
{
    return {[a, b](ActionWriter& out) {
        const auto done = out.NewLabel();
        a.write(out);
        out.Emit(Action::PushDuplicate);
        out.If(done);  // true: keep a as the result
        out.Emit(Action::Pop);
        b.write(out);
        out.Bind(done);
    }};
}

Expr Choose(Expr condition, Expr whenTrue, Expr whenFalse)
{
    return {[condition, whenTrue, whenFalse](ActionWriter& out) {
        const auto chosen = out.NewLabel();
        const auto done = out.NewLabel();
        condition.write(out);
        out.If(chosen);
        whenFalse.write(out);
        out.Jump(done);
        out.Bind(chosen);
        whenTrue.write(out);
        out.Bind(done);
    }};
}

Stmt Set(std::string name, Expr value)
{
    return [name, value](ActionWriter& out) {
        out.Push({PushValue::Str(name)});
        value.write(out);
        out.Emit(Action::SetVariable);
    };
}

Stmt SetMember(Expr object, std::string name, Expr value)
{
    return [object, name, value](ActionWriter& out) {
        object.write(out);
        out.Push({PushValue::Str(name)});
        value.write(out);
        out.Emit(Action::SetMember);
    };
}

Stmt Local(std::string name, Expr value)
{
    return [name, value](ActionWriter& out) {
        out.Push({PushValue::Str(name)});
        value.write(out);
        out.Emit(Action::DefineLocal);
    };
}

Stmt Do(Expr expression)
{
    return [expression](ActionWriter& out) {
        expression.write(out);
        out.Emit(Action::Pop);
    };
}

Stmt If(Expr condition, Block whenTrue, Block whenFalse)
{
    return [condition, whenTrue, whenFalse](ActionWriter& out) {
        const auto otherwise = out.NewLabel();
        const auto done = out.NewLabel();
        Not(condition).write(out);
        out.If(otherwise);
        EmitBlock(out, whenTrue);
        if (!whenFalse.empty())
            out.Jump(done);
        out.Bind(otherwise);
        EmitBlock(out, whenFalse);
        out.Bind(done);
    };
}

Stmt While(Expr condition, Block body)
{
    return [condition, body](ActionWriter& out) {
        const auto test = out.NewLabel();
        const auto done = out.NewLabel();
        out.Bind(test);
        Not(condition).write(out);
        out.If(done);
        EmitBlock(out, body);
        out.Jump(test);
        out.Bind(done);
    };
}

Stmt Return(Expr value)
{
    return [value](ActionWriter& out) {
        value.write(out);
        out.Emit(Action::Return);
    };
}

Stmt GetUrl(Expr url, Expr target)
{
    return [url, target](ActionWriter& out) {
        url.write(out);
        target.write(out);
        out.GetUrl2();
    };
}

Stmt Stop()
{
    return [](ActionWriter& out) { out.Emit(Action::Stop); };
}

void EmitBlock(ActionWriter& out, const Block& block)
{
    for (const Stmt& statement : block)
        statement(out);
}

}  // namespace swf::script
