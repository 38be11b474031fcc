// Short makers of engine values, and the message of an engine error, for the engine's tests and
// those of the packages built on it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "engine/model/IEConsts.h"
#include "engine/model/IEValue.h"
#include "tests/support/TestSupport.h"

namespace ie::test {

inline TRefPtr<IIEValue> Atom(std::string_view text) {
    return TIEValue::CreateText(dtAtom, text);
}
inline TRefPtr<IIEValue> Str(std::string_view text) {
    return TIEValue::CreateText(dtString, text);
}
inline TRefPtr<IIEValue> Var(std::string_view name) {
    return TIEValue::CreateText(dtVariable, name);
}
inline TRefPtr<IIEValue> Int(int32_t value) {
    return TIEValue::CreateInteger(dtInteger, value);
}
inline TRefPtr<IIEValue> Flt(double value) {
    return TIEValue::CreateFloat(value);
}
inline TRefPtr<IIEValue> List(std::initializer_list<TRefPtr<IIEValue>> items) {
    auto v = TValueVector::Create();
    for (const auto& i : items)
        v->Add(i);
    return TIEValue::CreateList(v);
}

// Evaluates the call of `name` with `args` in the root context of `engine`.
template <class TEngine>
TRefPtr<IIEValue> CallFunction(TEngine& engine, std::string_view name,
                               std::initializer_list<TRefPtr<IIEValue>> args = {}) {
    TRefPtr<IFunCall> call = engine.CreateFunCall(name);
    for (const auto& a : args)
        call->AddArgument(a);
    return call->Evaluate(engine.RootContext());
}

// The message of the error the call of `name` with `args` raises; "no error" when it raises none.
template <class TEngine>
std::string CallError(TEngine& engine, std::string_view name,
                      std::initializer_list<TRefPtr<IIEValue>> args = {}) {
    return MessageOf([&] { CallFunction(engine, name, args); }, "no error");
}

// The message of the engine error `f` raises.
template <class F> std::string RaisedMessage(F&& f) {
    return MessageOf<EIEException>(std::forward<F>(f), "<nothing raised>");
}

} // namespace ie::test
