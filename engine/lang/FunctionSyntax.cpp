// Functions and globals, read and written: deffunction, defglobal, and the commented listing of
// a function that has no rule-language text of its own (a built-in function).
//
// Invariant: a global's name keeps its asterisks and its value goes to the engine as written (a
// call stays a call); a deffunction is written with its parameters, comment and actions in the
// order they were read.
#include "engine/lang/IEClipsParser.h"

#include "engine/lang/SyntaxText.h"
#include "engine/model/IEHelperFunctions.h"
#include "engine/model/IEInterpretedFunction.h"
#include "engine/model/IEPackages.h"
#include "engine/model/IEValue.h"

namespace ie {

namespace {

// Every line break of plain text (not rule-language text) followed by `prefix`.
std::string PrefixLines(std::string_view text, std::string_view prefix) {
    std::string r;
    size_t p = 0;
    for (size_t e; (e = text.find(IELineEnd, p)) != std::string_view::npos;
         p = e + IELineEnd.size()) {
        r.append(text.substr(p, e + IELineEnd.size() - p));
        r.append(prefix);
    }
    return r.append(text.substr(p));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Reading

// --- deffunction ---

TRefPtr<IUserFunction> TIEClipsParser::ParseFunction() {
    constexpr std::string_view routine = "ParseFunction";
    ConstructSink(routine);
    std::string name, comment;
    TStreamTokenRef token =
        ParseConstructHeader(name, comment, imExpectedDeffunction, routine, "deffunction", true);
    auto function = MakeRef<TInterpretedFunction>(name);
    function->SetComment(comment);
    if (!token->Is('(')) ParseError(routine, imExpectedOpenParen);
    for (;;) {
        token = Next();
        if (token->Is(')')) break;
        if (token->GetDataType() == dtVariable) {
            function->AddParameter(token->GetText(), dtVariable);
        } else if (token->GetDataType() == dtMultiVariable) {
            function->AddParameter(token->GetText(), dtMultiVariable);
        } else {
            ParseError(routine, imExpectedCloseParen);
        }
    }
    token = Next();
    if (token->GetDataType() == dtString) {
        function->SetComment(token->GetText());
        token = Next();
    }
    for (;; token = Next()) {
        if (token->Is(')')) break;
        if (token->Is('(')) {
            PushBack(token);
            function->AddAction(ReadCallValue());
        } else if (IsPlainValue(*token)) {
            function->AddAction(token->ToValue());
        } else {
            ParseError(routine, imUnexpectedCharacter, token->AsString());
        }
    }
    if (OnParseFunction) OnParseFunction(this, function.get());
    return function;
}

// --- defglobal ---

bool TIEClipsParser::ParseGlobalVariables() {
    constexpr std::string_view routine = "ParseGlobalVariables";
    IConstructSink& engine = ConstructSink(routine);
    if (!Next()->Is('(')) ParseError(routine, imExpectedDefglobal);
    if (Next()->GetText() != "defglobal") ParseError(routine, imExpectedDefglobal);
    for (;;) {
        TStreamTokenRef token = Next();
        if (token->Is(')')) break;
        PushBack(token);
        std::string name;
        TRefPtr<IIEValue> value;
        ParseVariable(name, value);
        try {
            engine.PutGlobal(name, value);
        } catch (const EIEParseException&) {
            throw;
        } catch (const std::exception& e) {
            ParseError(routine, e.what());
        }
    }
    return true;
}

void TIEClipsParser::ParseVariable(std::string& name, TRefPtr<IIEValue>& value) {
    constexpr std::string_view routine = "ParseVariable";
    TStreamTokenRef token = Next();
    if (token->GetDataType() != dtVariable) ParseError(routine, imMissingName);
    const std::string& text = token->GetText();
    if (text.size() < 2 || text.front() != '*' || text.back() != '*')
        ParseError(routine, imBadVariableName, token->AsString());
    name = text;
    if (!Next()->Is('=')) ParseError(routine, imExpected, "=");
    token = Next();
    if (token->Is('(')) {
        PushBack(token);
        value = ReadCallValue();
    } else if (IsPlainValue(*token)) {
        value = token->ToValue();
    } else {
        ParseError(routine, imExpectedValueMissing);
    }
    if (OnParseVariable) OnParseVariable(this, name, value.get());
}

// ---------------------------------------------------------------------------------------------
// Writing

std::string TIEParser::FunctionSignature(const IUserFunction& function) {
    std::string text = Format("(%s)", function.GetFunctionName());
    const std::string args = TrimmedText(function.GetArgumentString());
    if (!args.empty()) text += " " + args;
    return text;
}

std::string TIEParser::FormatGlobal(std::string_view name, const IIEValue* value) {
    if (name.empty()) return {};
    std::string r;
    if (name[0] != '?') r += '?';
    r += name;
    return r + " = " + FormatValue(value);
}

std::string TIEParser::FormatGlobals(const TValueHashTable& variables) {
    std::string r = "(defglobal";
    for (const auto& entry : variables) {
        auto* value = dynamic_cast<IIEValue*>(entry.Intf().get());
        r += ' ';
        r += FormatGlobal("?" + entry.Key(), value);
    }
    return r + ")";
}

std::string TIEParser::FormatFunction(const IUserFunction& function, std::string_view signature) {
    if (auto* deffunction = dynamic_cast<const TInterpretedFunction*>(&function))
        return FormatDeffunction(*deffunction);
    std::string r = ";; " + function.GetFunctionName() + " function" + CRLF;
    const std::string text =
        function.GetComment() + CRLF + Format("     syntax: %s", std::string(signature));
    if (!text.empty()) r += ";; " + Indent + PrefixLines(text, ";; " + Indent);
    return r;
}

std::string TIEParser::FormatDeffunction(const TInterpretedFunction& function) {
    std::string r = "(deffunction " + function.GetFunctionName() + " (";
    bool first = true;
    for (const TRefPtr<IIEValue>& p : function.Parameters()) {
        if (!first) r += ' ';
        first = false;
        r += (p->GetDType() == dtMultiVariable ? "$?" : "?") + p->AsString();
    }
    r += ")" + CRLF;
    if (!function.GetComment().empty()) r += Indent + QuotedComment(function.GetComment()) + CRLF;
    for (const TRefPtr<IIEValue>& action : function.Actions())
        r += Indent + IndentLines(FormatValue(action.get()), Indent) + CRLF;
    return r + ")";
}

} // namespace ie
