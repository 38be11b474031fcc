// Engine files: the whole engine as one rule-language text, and loading and saving the engine and
// each construct table through streams and files.
//
// Invariant: what is saved reads back into an equal engine or table (parents and ancestors are
// written before their children), and a file is only written once its whole text is made, so a
// text that cannot be written leaves the file as it was.
#include "engine/EngineFiles.h"

#include <memory>

#include "engine/InferenceEngine.h"
#include "engine/lang/IEParser.h"
#include "platform/DateTime.h"
#include "platform/Format.h"
#include "platform/StoredProperties.h"
#include "platform/Streams.h"

namespace ie {

TFileNesting::TFileNesting(int32_t& depth) : FDepth(depth) {
    if (depth >= TInferenceEngine::MaxFileNesting)
        throw EIEException(
            Format("Load and batch nested more than %d deep", TInferenceEngine::MaxFileNesting));
    ++FDepth;
}

namespace {

void WriteText(TStream& stream, const std::string& text) {
    if (!text.empty()) stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void WriteLine(TStream& stream, const std::string& text) {
    WriteText(stream, text + std::string(IELineEnd));
}

template <class F> void ReadFile(const std::string& fileName, F&& read) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    read(file);
}

// The whole text is made before the file is created: a text that cannot be written (a symbol
// that would not read back) leaves the file as it was.
template <class F> void WriteFile(const std::string& fileName, F&& write) {
    TStringStream text("");
    write(text);
    TFileStream file(fileName, fmCreate);
    WriteText(file, text.DataString());
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The whole engine

std::string TEngineFiles::Text() const {
    TInferenceEngine& e = FEngine;
    const std::string crlf(IELineEnd);
    const std::string stars = "; *************************";
    std::string text;
    text += stars + crlf;
    text += "; Inference Engine v" + Format("%.4f", static_cast<double>(e.Version())) + " Output" +
            crlf;
    text += "; Created: " + DateTimeToStr(Now()) + crlf;
    text += "; Number of Global Variables: " + std::to_string(e.GlobalVariables().Count()) + crlf;
    text += "; Number of Defined Types:    " + std::to_string(e.DefinedTypes().Count()) + crlf;
    text += "; Number of Fact Templates:   " + std::to_string(e.FactTemplates().Count()) + crlf;
    text += "; Number of Rules:            " + std::to_string(e.Rules().Count()) + crlf;
    text += "; Number of Fact Sets:        " + std::to_string(e.FactSets().Count()) + crlf;
    text += "; Number of Facts:            " + std::to_string(e.Facts().Count()) + crlf;
    // set-fact-duplication allows duplicates exactly when its argument is FALSE.
    text += e.FactDuplication() ? "(set-fact-duplication FALSE)" : "(set-fact-duplication TRUE)";
    text += crlf;
    auto section = [&](std::string_view title, const std::string& body, bool blankAfterTitle) {
        text += crlf + stars + crlf;
        text += title;
        text += crlf;
        if (blankAfterTitle) text += crlf;
        text += body;
    };
    if (e.GlobalVariables().Count() > 0)
        section("; Global Variables ", e.FormatGlobals() + crlf, true);
    if (e.DefinedTypes().Count() > 0) section("; Defined Types ", e.DefinedTypes().GetText(), true);
    if (e.FactTemplates().Count() > 0)
        section("; Fact Templates ", e.FactTemplates().GetText(), true);
    if (e.UserFunctions().Count() > 0)
        section("; Deffunctions ", e.UserFunctions().GetText(), false);
    if (e.Rules().Count() > 0) section("; Rules ", e.Rules().GetText(), true);
    if (e.FactSets().Count() > 0) section("; Fact Sets ", e.FactSets().GetText(), true);
    if (e.Facts().Count() > 0) {
        std::string body = "(assert" + crlf;
        for (const auto& fact : e.Facts().Items())
            body += "    " + fact->GetText() + crlf;
        body += ")" + crlf;
        section("; Facts ", body, true);
    }
    return text;
}

void TEngineFiles::Read(TStream& source, bool facts) {
    const TFileNesting nesting(FEngine.IORouter().FileDepth());
    std::unique_ptr<TIETokenizerStream> stream = FEngine.CreateStream(&source);
    TIEParser& parser = *FEngine.Parser();
    const TParserStreamScope reading(parser, stream.get());
    if (facts)
        parser.ParseFacts();
    else
        parser.Parse(true);
}

void TEngineFiles::LoadFromStream(TStream& stream) {
    Read(stream, false);
}

void TEngineFiles::SaveToStream(TStream& stream) {
    // Through the engine: a host's engine may write its own text.
    WriteText(stream, FEngine.GetText());
}

// ---------------------------------------------------------------------------------------------
// One construct table

void TEngineFiles::LoadTypesFromStream(TStream& stream) {
    FEngine.DefinedTypes().Clear();
    Read(stream, false);
}

void TEngineFiles::SaveTypesToStream(TStream& stream) {
    for (IIEDefinedType* type : FEngine.DefinedTypes().AncestorsFirstOrder())
        WriteLine(stream, FEngine.DefinedTypeText(*type));
}

void TEngineFiles::LoadFactsFromStream(TStream& stream) {
    Read(stream, true);
}

void TEngineFiles::SaveFactsToStream(TStream& stream) {
    std::string text;
    for (const auto& fact : FEngine.Facts().Items())
        text += FEngine.FormatFact(*fact) + std::string(IELineEnd);
    WriteText(stream, text);
}

void TEngineFiles::SaveTemplateFactsToStream(TStream& stream, std::string_view templateName) {
    std::string text;
    for (const auto& fact : FEngine.Facts().Items()) {
        TRefPtr<IFactTemplate> t = fact->GetTemplate();
        if (t && t->GetName() == templateName)
            text += FEngine.FormatFact(*fact) + std::string(IELineEnd);
    }
    WriteText(stream, text);
}

void TEngineFiles::LoadTemplatesFromStream(TStream& stream) {
    FEngine.FactTemplates().Clear();
    Read(stream, false);
}

void TEngineFiles::SaveTemplatesToStream(TStream& stream) {
    for (IFactTemplate* t : FEngine.FactTemplates().ParentsFirstOrder())
        WriteLine(stream, FEngine.FormatFactTemplate(*t));
}

void TEngineFiles::LoadRulesFromStream(TStream& stream) {
    FEngine.Rules().Clear();
    Read(stream, false);
}

void TEngineFiles::SaveRulesToStream(TStream& stream) {
    std::string text;
    for (const auto& entry : FEngine.Rules())
        text += FEngine.FormatRule(*static_cast<TRule*>(entry.Value())) + std::string(IELineEnd);
    WriteText(stream, text);
}

// ---------------------------------------------------------------------------------------------
// Files: each goes through the engine's stream method, which a host's engine may replace.

void TEngineFiles::LoadFromFile(const std::string& fileName) {
    ReadFile(fileName, [this](TStream& s) { FEngine.LoadFromStream(s); });
}
void TEngineFiles::SaveToFile(const std::string& fileName) {
    WriteFile(fileName, [this](TStream& s) { FEngine.SaveToStream(s); });
}
void TEngineFiles::LoadTypesFromFile(const std::string& fileName) {
    ReadFile(fileName, [this](TStream& s) { FEngine.LoadTypesFromStream(s); });
}
void TEngineFiles::SaveTypesToFile(const std::string& fileName) {
    WriteFile(fileName, [this](TStream& s) { FEngine.SaveTypesToStream(s); });
}
void TEngineFiles::LoadFactsFromFile(const std::string& fileName) {
    ReadFile(fileName, [this](TStream& s) { FEngine.LoadFactsFromStream(s); });
}
void TEngineFiles::SaveFactsToFile(const std::string& fileName) {
    WriteFile(fileName, [this](TStream& s) { FEngine.SaveFactsToStream(s); });
}
void TEngineFiles::SaveTemplateFactsToFile(const std::string& fileName,
                                           std::string_view templateName) {
    WriteFile(fileName, [&](TStream& s) { FEngine.SaveTemplateFactsToStream(s, templateName); });
}
void TEngineFiles::LoadTemplatesFromFile(const std::string& fileName) {
    ReadFile(fileName, [this](TStream& s) { FEngine.LoadTemplatesFromStream(s); });
}
void TEngineFiles::SaveTemplatesToFile(const std::string& fileName) {
    WriteFile(fileName, [this](TStream& s) { FEngine.SaveTemplatesToStream(s); });
}
void TEngineFiles::LoadRulesFromFile(const std::string& fileName) {
    ReadFile(fileName, [this](TStream& s) { FEngine.LoadRulesFromStream(s); });
}
void TEngineFiles::SaveRulesToFile(const std::string& fileName) {
    WriteFile(fileName, [this](TStream& s) { FEngine.SaveRulesToStream(s); });
}

// ---------------------------------------------------------------------------------------------
// Stored properties

void TEngineFiles::DefineProperties(TFiler& filer) {
    TInferenceEngine& e = FEngine;
    // The tables, in the order in which they depend on each other.
    filer.DefineProperty(
        "DefTypes",
        [&e](TReader& r) {
            e.DefinedTypes().Clear();
            for (const auto& text : r.ReadStrings()) {
                TRefPtr<IIEDefinedType> type = e.ParseDefinedType(text);
                if (type) e.DefinedTypes().PutType(type->GetName(), type);
            }
        },
        [&e](TWriter& w) {
            std::vector<std::string> texts;
            for (IIEDefinedType* type : e.DefinedTypes().AncestorsFirstOrder())
                texts.push_back(e.DefinedTypeText(*type));
            w.WriteStrings(texts);
        },
        e.DefinedTypes().Count() > 0);
    filer.DefineProperty(
        "Templates",
        [&e](TReader& r) {
            e.FactTemplates().Clear();
            for (const auto& text : r.ReadStrings()) {
                TRefPtr<IFactTemplate> t = e.ParseFactTemplate(text);
                if (t) e.FactTemplates().PutTemplate(t->GetName(), t);
            }
            e.CreateImpliedConstructs();
        },
        [&e](TWriter& w) {
            std::vector<std::string> texts;
            for (IFactTemplate* t : e.FactTemplates().ParentsFirstOrder())
                texts.push_back(e.FormatFactTemplate(*t));
            w.WriteStrings(texts);
        },
        e.FactTemplates().Count() > 0);
    filer.DefineProperty(
        "Variables",
        [&e](TReader& r) {
            e.GlobalVariables().Clear();
            for (const auto& text : r.ReadStrings()) {
                std::string name;
                TRefPtr<IIEValue> value;
                e.ParseGlobal(text, name, value);
                e.GlobalVariables().PutGlobal(name, value);
            }
        },
        [&e](TWriter& w) {
            std::vector<std::string> texts;
            for (const auto& entry : e.GlobalVariables())
                texts.push_back(e.Parser()->FormatGlobal(
                    entry.Key(), dynamic_cast<IIEValue*>(entry.Intf().get())));
            w.WriteStrings(texts);
        },
        e.GlobalVariables().Count() > 0);
    filer.DefineProperty(
        "Rules",
        [&e](TReader& r) {
            e.Rules().Clear();
            for (const auto& text : r.ReadStrings()) {
                TRule* rule = e.ParseRule(text);
                if (rule && !e.Rules().PutRule(rule->RuleName(), rule)) rule->Free();
            }
        },
        [&e](TWriter& w) {
            std::vector<std::string> texts;
            for (const auto& entry : e.Rules())
                texts.push_back(e.FormatRule(*static_cast<TRule*>(entry.Value())));
            w.WriteStrings(texts);
        },
        e.Rules().Count() > 0);
    filer.DefineProperty(
        "FactsList",
        [&e](TReader& r) {
            for (const auto& text : r.ReadStrings())
                e.AssertString(text);
        },
        [&e](TWriter& w) {
            std::vector<std::string> texts;
            for (const auto& fact : e.Facts().Items())
                texts.push_back(e.FormatFact(*fact));
            w.WriteStrings(texts);
        },
        e.Facts().Count() > 0);
    filer.DefineProperty(
        "FactSets",
        [&e](TReader& r) {
            for (const auto& text : r.ReadStrings())
                e.ParseFactSet(text);
        },
        [&e](TWriter& w) {
            // Fact sets of other holders are stored by those holders.
            std::vector<std::string> texts;
            for (TFactSet* set : e.FactSets().Items())
                if (set->Owner() == &e) texts.push_back(e.FormatFactSet(*set));
            w.WriteStrings(texts);
        },
        e.FactSets().Count() > 0);
}

} // namespace ie
