// The script engine with the predicate, math, string, business and trigonometry packages beside
// the standard one (whose create$ builds the multifield arguments), and typed readers of a
// call's result.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "ScriptEngine.h"
#include "packages/BusinessPackage.h"
#include "packages/MathPackage.h"
#include "packages/PredicatePackage.h"
#include "packages/StringPackage.h"
#include "packages/TrigonometryPackage.h"

namespace ie::test {

class FunctionPackagesTest : public ::testing::Test {
protected:
    FunctionPackagesTest()
        : Predicate(NewPackage<TPredicatePackage>(&Engine)),
          Math(NewPackage<TMathPackage>(&Engine)), String(NewPackage<TStringPackage>(&Engine)),
          Business(NewPackage<TBusinessPackage>(&Engine)),
          Trigonometry(NewPackage<TTrigonometryPackage>(&Engine)) {}
    ~FunctionPackagesTest() override {
        Trigonometry->Free();
        Business->Free();
        String->Free();
        Math->Free();
        Predicate->Free();
    }

    TRefPtr<IIEValue> Eval(std::string_view text) { return Engine.Eval(text); }
    std::string Error(std::string_view text) { return Engine.Error(text); }

    // The value of a call that must give a float.
    double Float(std::string_view text) {
        TRefPtr<IIEValue> v = Eval(text);
        EXPECT_TRUE(v && v->GetDType() == dtFloat) << text;
        return v && v->GetDType() == dtFloat ? v->AsFloat() : -12345.678;
    }
    // The value of a call that must give an integer.
    int32_t Integer(std::string_view text) {
        TRefPtr<IIEValue> v = Eval(text);
        EXPECT_TRUE(v && v->GetDType() == dtInteger) << text;
        return v && v->GetDType() == dtInteger ? v->AsInteger() : -12345678;
    }
    // The kind and text of a value of a text kind ("atom:abc", "string:abc").
    std::string Lexeme(std::string_view text) {
        TRefPtr<IIEValue> v = Eval(text);
        if (!v) return "<none>";
        const std::string kind = v->GetDType() == dtAtom ? "atom:"
                                 : v->GetDType() == dtString
                                     ? "string:"
                                     : std::string(IETypeName(v->GetDType())) + ":";
        return kind + v->AsString();
    }
    // TRUE or FALSE.
    std::string Truth(std::string_view text) { return Lexeme(text); }

    TScriptEngine Engine;
    TPredicatePackage* Predicate;
    TMathPackage* Math;
    TStringPackage* String;
    TBusinessPackage* Business;
    TTrigonometryPackage* Trigonometry;
};

} // namespace ie::test
