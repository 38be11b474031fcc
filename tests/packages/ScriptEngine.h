// A minimal engine for the standard package's functions that need no working memory: a function
// table, a root context, printed output collected by logical name, and the rule-language reader
// to read calls from text.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/lang/IEClipsParser.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"
#include "packages/StandardPackage.h"
#include "platform/Streams.h"
#include "tests/support/TestReasoner.h"

namespace ie::test {

class TScriptEngine : public TComponent, public TFunctionTableReasoner, public IParserEngine {
public:
    TScriptEngine() : TComponent(nullptr), Root(nullptr, nullptr) {
        Package = NewPackage<TStandardPackage>(this);
    }
    // The package leaves while the engine is still whole.
    ~TScriptEngine() override { Package->Free(); }

    // IReasoner
    std::string FunCallText(const IFunCall& call) override { return DefaultFunCallText(call); }
    std::string FactText(const IFact&) override { return {}; }
    std::string UserFunctionText(const IUserFunction& f) override { return f.GetComment(); }
    std::string DefinedTypeText(const IIEDefinedType&) override { return {}; }

    // IParserEngine
    std::string GenerateSymbol(std::string_view prefix) override {
        return std::string(prefix) + std::to_string(Counter++);
    }
    TIEContext* RootContext() override { return &Root; }
    TRefPtr<IFunCall> CreateFunCall(std::string_view name) override {
        return TFunctionCall::Create(this, name);
    }
    void PrintOut(const std::string& name, const std::string& text) override {
        Output[name] += text;
    }

    // Reads every call of the text and evaluates it in `context` (the root context by
    // default); the value of the last one.
    TRefPtr<IIEValue> Eval(std::string_view text, TIEContext* context = nullptr) {
        if (!context) context = &Root;
        TStringStream source(text);
        TIEClipsStream stream(&source);
        stream.SetEngine(this);
        TIEClipsParser parser(this, &stream);
        TRefPtr<IIEValue> result;
        for (;;) {
            TStreamTokenRef token = stream.NextToken();
            if (token->IsEndOfInput()) break;
            if (!token->Is('(')) {
                // A top-level value: a variable gives its binding.
                result = token->ToValue()->Evaluate(context);
                continue;
            }
            stream.PushBack(token);
            TRefPtr<IFunCall> call = parser.ParseFunCall();
            result = call->Evaluate(context);
        }
        return result;
    }
    // The print form of a value, multifields in parentheses ("<none>" for no value).
    static std::string Show(const IIEValue* v) {
        if (!v) return "<none>";
        if (v->GetDType() != dtList) return v->GetText();
        std::string text = "(";
        const TRefPtr<IValueVector> list = v->AsList();
        for (int32_t i = 0; i < list->Count(); ++i)
            text += (i ? " " : "") + Show(list->GetItem(i).get());
        return text + ")";
    }
    // The print form of the value of the text.
    std::string Text(std::string_view text, TIEContext* context = nullptr) {
        return Show(Eval(text, context).get());
    }
    // The message of the error the text raises ("" when none).
    std::string Error(std::string_view text, TIEContext* context = nullptr) {
        try {
            Eval(text, context);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    }

    TIEContext Root;
    TStandardPackage* Package = nullptr;
    std::unordered_map<std::string, std::string> Output;
    int Counter = 0;
};

} // namespace ie::test
