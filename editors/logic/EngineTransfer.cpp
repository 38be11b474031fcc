#include "editors/logic/EngineTransfer.h"

#include <memory>
#include <string_view>
#include <vector>

#include "engine/IEFacts.h"
#include "engine/IEParser.h"
#include "engine/IERule.h"
#include "engine/InferenceEngine.h"
#include "engine/ReteNetwork.h"
#include "platform/Streams.h"

namespace ie {
namespace {

constexpr std::string_view LineEnd = "\r\n";

template <class T> TRefPtr<T> CloneAs(const ICloneable& item) {
    TRefPtr<ICloneable> copy = item.Clone();
    return TRefPtr<T>(dynamic_cast<T*>(copy.get()));
}

// Switches the receiving engine's Rete network off for as long as it lives.
class TNetworkOff {
public:
    explicit TNetworkOff(TInferenceEngine& engine) : FRete(engine.ReteNetwork()) {
        if (FRete) {
            FWasEnabled = FRete->Enabled();
            FRete->SetEnabled(false);
        }
    }
    ~TNetworkOff() {
        if (FRete) FRete->SetEnabled(FWasEnabled);
    }
    TNetworkOff(const TNetworkOff&) = delete;
    TNetworkOff& operator=(const TNetworkOff&) = delete;

private:
    TReteNetwork* FRete;
    bool FWasEnabled = true;
};

template <class T> std::vector<std::string> Keys(const T& table) {
    std::vector<std::string> keys;
    keys.reserve(static_cast<size_t>(table.Count()));
    auto it = table.Keys();
    while (it->HasNext())
        keys.push_back(it->NextString());
    return keys;
}

// A slot's defined type belongs to the engine of its template: re-point it at the receiving
// engine's type of the same name, or keep a private clone when that engine has none.
void RepointSlotTypes(TInferenceEngine& dest, IFactTemplate& t) {
    for (int32_t i = 0; i < t.SlotCount(); ++i) {
        TRefPtr<IFactSlot> slot = t.SlotAt(i);
        TRefPtr<IIEDefinedType> type = slot->GetExtendedTypeInfo();
        if (!type) continue;
        TRefPtr<IIEDefinedType> own = dest.DefinedTypes().Find(type->GetName());
        if (own) {
            if (own.get() != type.get()) slot->SetExtendedTypeInfo(own);
        } else {
            TRefPtr<IIEDefinedType> copy = CloneAs<IIEDefinedType>(*type);
            if (copy) {
                copy->SetOwner(&dest);
                slot->SetExtendedTypeInfo(copy);
            }
        }
    }
}

TRefPtr<IFactTemplate> CopyTemplate(TInferenceEngine& dest, const IFactTemplate& source) {
    TRefPtr<IFactTemplate> copy;
    try {
        copy = source.CloneFor(&dest);
    } catch (const EIEException&) {
        // No reader for slot texts in this engine: copy the slots as objects instead.
        auto t = TFactTemplate::CreateNamed(&dest, source.GetName());
        t->SetComment(source.GetComment());
        t->SetBackwardChaining(source.GetBackwardChaining());
        for (int32_t i = 0; i < source.SlotCount(); ++i)
            t->AddSlotCopy(*source.SlotAt(i));
        copy = t;
    }
    RepointSlotTypes(dest, *copy);
    return copy;
}

TRefPtr<IFact> CopyFact(TInferenceEngine& dest, const IFact& source) {
    TRefPtr<IFactTemplate> st = source.GetTemplate();
    TRefPtr<IFactTemplate> t = dest.FactTemplates().Find(st->GetName());
    if (!t) t = st->GetImplied() ? dest.ImpliedTemplate(st->GetName()) : nullptr;
    if (!t) {
        t = CopyTemplate(dest, *st);
        dest.FactTemplates().PutTemplate(t->GetName(), t);
    }
    TRefPtr<IFact> fact = t->NewFact();
    for (int32_t i = 0; i < st->SlotCount(); ++i) {
        const std::string& name = st->SlotAt(i)->GetName();
        if (!t->HasSlot(name)) continue;
        TRefPtr<IIEValue> value = source.GetSlotValue(name);
        if (value) fact->SetSlotValue(name, CloneAs<IIEValue>(*value));
    }
    return fact;
}

} // namespace

void AssignDefinedTypes(TInferenceEngine& dest, TInferenceEngine& source) {
    if (&dest == &source) return;
    TIEDefinedTypes& to = dest.DefinedTypes();
    TIEDefinedTypes& from = source.DefinedTypes();
    for (const std::string& name : Keys(to))
        if (!from.Find(name)) to.RemoveType(name);
    for (const std::string& name : Keys(from)) {
        TRefPtr<IIEDefinedType> copy = CloneAs<IIEDefinedType>(*from.Find(name));
        copy->SetOwner(&dest);
        if (TRefPtr<IIEDefinedType> old = to.Find(name))
            to.ReplaceType(old, copy);
        else
            to.PutType(name, copy);
    }
}

void AssignFactTemplates(TInferenceEngine& dest, TInferenceEngine& source) {
    if (&dest == &source) return;
    TFactTemplates& to = dest.FactTemplates();
    TFactTemplates& from = source.FactTemplates();
    for (const std::string& name : Keys(to)) {
        TRefPtr<IFactTemplate> mine = to.Find(name);
        if (!from.Find(name) && !mine->GetImplied()) to.RemoveTemplate(name);
    }
    for (const std::string& name : Keys(from)) {
        TRefPtr<IFactTemplate> theirs = from.Find(name);
        if (theirs->GetImplied()) {
            dest.ImpliedTemplate(name);
            continue;
        }
        TRefPtr<IFactTemplate> copy = CopyTemplate(dest, *theirs);
        if (TRefPtr<IFactTemplate> old = to.Find(name))
            to.ReplaceTemplate(old, copy);
        else
            to.PutTemplate(name, copy);
    }
}

void AssignFacts(TInferenceEngine& dest, TInferenceEngine& source) {
    if (&dest == &source) return;
    if (dest.Facts().Count() > 0) dest.Facts().Clear();
    AddFacts(dest, source);
}

void AddFacts(TInferenceEngine& dest, TInferenceEngine& source) {
    if (&dest == &source) return;
    // The source list may change under a handler of the receiving engine: walk a snapshot.
    const std::vector<TRefPtr<IFact>> facts = source.Facts().Items();
    for (const auto& fact : facts)
        dest.AssertFact(CopyFact(dest, *fact));
}

void AssignRules(TInferenceEngine& dest, TInferenceEngine& source) {
    if (&dest == &source) return;
    if (dest.Rules().Count() > 0) dest.Rules().Clear();
    for (const std::string& name : Keys(source.Rules())) {
        TRule* theirs = source.Rules().Find(name);
        auto* rule = new TRule(&dest, &dest);
        try {
            rule->Assign(theirs);
        } catch (...) {
            rule->Free();
            throw;
        }
        if (!dest.Rules().PutRule(rule->RuleName(), rule)) rule->Free();
    }
}

void AssignEngine(TInferenceEngine& dest, TInferenceEngine& source) {
    if (&dest == &source) return;
    dest.Clear();
    dest.SetDuplicateConstructs(source.DuplicateConstructs());
    dest.SetFactDuplication(source.FactDuplication());
    dest.SetFuzzyAutoTerms(source.FuzzyAutoTerms());
    dest.SetFuzzyCorrelationMethod(source.FuzzyCorrelationMethod());
    dest.SetFuzzyInferenceMethod(source.FuzzyInferenceMethod());
    dest.SetFuzzyEqualsThreshold(source.FuzzyEqualsThreshold());
    dest.SetMinActivationStrength(source.MinActivationStrength());
    dest.SetResetGlobals(source.ResetGlobals());
    dest.SetStrategy(source.Strategy());
    dest.SetSymbolIndex(source.SymbolIndex());
    dest.SetWatch(source.Watch());
    AssignDefinedTypes(dest, source);
    dest.AssignUserFunctions(source);
    AssignFactTemplates(dest, source);
    AssignFacts(dest, source);
    AssignRules(dest, source);
}

void CopyEngineForEditing(TInferenceEngine& dest, TInferenceEngine& source) {
    {
        TNetworkOff off(dest);
        AssignEngine(dest, source);
    }
    dest.SetTypeChecks(TTypeChecks{tcStatic, tcDynamic});
}

std::string TypesText(TInferenceEngine& engine) {
    std::string text;
    for (const std::string& name : Keys(engine.DefinedTypes())) {
        text += engine.DefinedTypes().Find(name)->GetText();
        text += LineEnd;
    }
    return text;
}

std::string TemplatesText(TInferenceEngine& engine) {
    std::string text;
    for (const std::string& name : Keys(engine.FactTemplates())) {
        TRefPtr<IFactTemplate> t = engine.FactTemplates().Find(name);
        if (t->GetImplied()) continue;
        text += t->GetText();
        text += LineEnd;
    }
    return text;
}

std::string RulesText(TInferenceEngine& engine) {
    std::string text;
    TIEParser* writer = engine.Parser();
    if (!writer) return text;
    for (const std::string& name : Keys(engine.Rules())) {
        text += writer->FormatRule(*engine.Rules().Find(name));
        text += LineEnd;
    }
    return text;
}

std::string EngineText(TInferenceEngine& engine) {
    std::string text = TypesText(engine) + TemplatesText(engine);
    TIEParser* writer = engine.Parser();
    if (writer && engine.GlobalVariables().Count() > 0) {
        text += writer->FormatGlobals(engine.GlobalVariables());
        text += LineEnd;
    }
    text += RulesText(engine);
    text += engine.Facts().GetText();
    return text;
}

namespace {

std::string ReadTextFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    std::string text(static_cast<size_t>(file.Size()), '\0');
    if (!text.empty()) file.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
    return text;
}

} // namespace

void SaveTextFile(const std::string& fileName, const std::string& text) {
    TFileStream file(fileName, fmCreate);
    if (!text.empty()) file.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void LoadEngineFile(TInferenceEngine& engine, const std::string& fileName) {
    engine.ExecuteCommand(ReadTextFile(fileName), true);
}

void SaveEngineFile(TInferenceEngine& engine, const std::string& fileName) {
    SaveTextFile(fileName, EngineText(engine));
}

void LoadFactsFile(TInferenceEngine& engine, const std::string& fileName) {
    const std::string text = ReadTextFile(fileName);
    TStringStream source(text);
    std::unique_ptr<TIETokenizerStream> stream = engine.CreateStream(&source);
    TIEParser& parser = *engine.Parser();
    TIETokenizerStream* former = parser.Stream();
    struct TRestoreStream {
        TIEParser& P;
        TIETokenizerStream* S;
        ~TRestoreStream() { P.SetStream(S); }
    } restore{parser, former};
    parser.SetStream(stream.get());
    parser.ParseFacts();
}

void SaveFactsFile(TInferenceEngine& engine, const std::string& fileName) {
    SaveTextFile(fileName, engine.Facts().GetText());
}

void LoadTemplatesFile(TInferenceEngine& engine, const std::string& fileName) {
    const std::string text = ReadTextFile(fileName);
    engine.FactTemplates().Clear();
    engine.ExecuteCommand(text, true);
}

void LoadRulesFile(TInferenceEngine& engine, const std::string& fileName) {
    const std::string text = ReadTextFile(fileName);
    engine.Rules().Clear();
    engine.ExecuteCommand(text, true);
}

void LoadTypesFile(TInferenceEngine& engine, const std::string& fileName) {
    const std::string text = ReadTextFile(fileName);
    engine.DefinedTypes().Clear();
    engine.ExecuteCommand(text, true);
}

} // namespace ie
