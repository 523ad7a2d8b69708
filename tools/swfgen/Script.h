// ActionScript written as C++ expressions and statements that write their own
// bytecode, so a movie's script reads close to the ActionScript it stands
// for: Set("ns", New("NetStream", {Var("nc")})) is ns = new NetStream(nc).
#pragma once

#include "swfgen/ActionWriter.h"

#include <functional>
#include <string>
#include <vector>

namespace swf::script {

// An expression leaves one value on the stack.
struct Expr {
    std::function<void(ActionWriter&)> write;
};
// A statement leaves the stack as it found it.
using Stmt = std::function<void(ActionWriter&)>;
using Block = std::vector<Stmt>;

Expr Str(std::string text);
Expr Num(double number);
Expr Bool(bool value);
Expr Null();
Expr Undefined();

Expr Var(std::string name);                  // name, looked up along the scope chain
Expr Member(Expr object, std::string name);  // object.name
Expr Call(std::string function, std::vector<Expr> arguments);
Expr Method(Expr object, std::string name, std::vector<Expr> arguments);
Expr New(std::string className, std::vector<Expr> arguments);
Expr Function(std::vector<std::string> parameters, Block body);

Expr operator+(Expr a, Expr b);  // numbers add, a string on either side joins
Expr operator-(Expr a, Expr b);
Expr operator*(Expr a, Expr b);
Expr operator/(Expr a, Expr b);
Expr operator%(Expr a, Expr b);
Expr operator&(Expr a, Expr b);
Expr operator>>(Expr a, Expr b);
Expr Equals(Expr a, Expr b);  // ==
Expr Less(Expr a, Expr b);
Expr Greater(Expr a, Expr b);
Expr Not(Expr a);
Expr And(Expr a, Expr b);                                    // &&, b only evaluated when a is true
Expr Or(Expr a, Expr b);                                     // ||, b only evaluated when a is false
Expr Choose(Expr condition, Expr whenTrue, Expr whenFalse);  // ?:

Stmt Set(std::string name, Expr value);  // name = value
Stmt SetMember(Expr object, std::string name, Expr value);
Stmt Local(std::string name, Expr value);  // var name = value, in a function
Stmt Do(Expr expression);                  // evaluate, drop the result
Stmt If(Expr condition, Block whenTrue, Block whenFalse = {});
Stmt While(Expr condition, Block body);
Stmt Return(Expr value);
Stmt GetUrl(Expr url, Expr target);
Stmt Stop();

void EmitBlock(ActionWriter& out, const Block& block);

}  // namespace swf::script
