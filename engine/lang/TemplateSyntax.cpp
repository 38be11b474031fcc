// Templates and facts, read and written: deftemplate and its slots, deffacts, facts, and the
// values of a fact read as its slot's kinds and type expect them.
//
// Invariant: a fact or template written reads back equal: a slot value is left out only where
// the slot's default gives it back, a fact set's facts keep their dynamic defaults unevaluated
// (they are evaluated at each reset), and a half-read fact set is freed.
#include "engine/lang/IEClipsParser.h"

#include <typeinfo>
#include <utility>

#include "engine/lang/SyntaxText.h"
#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEHelperFunctions.h"
#include "engine/model/IEValue.h"
#include "fuzzy/FuzzyConsts.h"
#include "fuzzy/FuzzyInterfaces.h"
#include "platform/Restore.h"

namespace ie {

namespace {

// Kind names of a set for messages: without "dt", upper case, joined by ", ".
std::string KindNames(TIETypes types) {
    return UpperCase(SetToText(types, ", "));
}

std::string LowerText(std::string_view text) {
    std::string r(text);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return r;
}

bool IsEmptyDefault(const IIEValue* value) {
    if (!value) return true;
    if (value->GetDType() == dtList) {
        TRefPtr<IValueVector> list = value->AsList();
        return !list || list->Count() == 0;
    }
    return false;
}

// Whether the operations that a host's parser may override to read or write a fact's slots
// (ParseFactSlot, ParseValueForSlot, ParseValueForTypes, the FormatFactSlotValue writers) are
// this project's own: only then are a fact's slots read and written past them, their work done
// in place. A subclass may override any of them, so it is served through all of them. The
// check compares the class's type record by address, a few instructions per fact.
bool OwnFactOperations(const TIEParser& parser) {
    return typeid(parser) == typeid(TIEClipsParser);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Reading

// --- Values typed by a slot ---

TRefPtr<IIEValue> TIEClipsParser::ParseValueForTypes(TIETypes types, const IIEDefinedType* type) {
    return ParseValueForTypesFrom(nullptr, types, type);
}

TRefPtr<IIEValue> TIEClipsParser::ParseValueForTypesFrom(TStreamTokenRef first, TIETypes types,
                                                         const IIEDefinedType* type) {
    constexpr std::string_view routine = "ParseValue(SlotTypes)";
    TRefPtr<IIEValue> value;
    const bool fuzzy = types.Contains(dtFuzzy);
    // Only a single value starts from the token read already; the others read it again.
    if (first && (fuzzy || types.Contains(dtMultiSlot))) PushBack(std::exchange(first, nullptr));
    if (types.Contains(dtMultiSlot)) {
        value = ParseList();
        if (StaticTypeCheck && fuzzy) {
            if (!type || !type->GetFuzzyVariable()) ParseError(routine, imFuzzyTypeNeeded);
            TRefPtr<IIEValue> result =
                EvaluateFuzzyValue(routine, *type->GetFuzzyVariable(), value);
            if (!result || result.get() == IEEmptyAtom().get())
                ParseError(routine, imInvalidFuzzyExpression, value->GetText());
            if (result->GetDType() == dtList) return result;
            auto items = MakeRef<TValueVector>();
            items->Add(result);
            return TIEValue::CreateList(TRefPtr<IValueVector>(items.get()));
        }
    } else if (fuzzy) {
        if (!type || !type->GetFuzzyVariable()) ParseError(routine, imFuzzyTypeNeeded);
        value = ParseValue();
        if (!value) ParseError("ParseValue", imExpectedValueMissing);
        // Variables and calls stay as written: the fact is evaluated again when it is
        // asserted in a context, and the expression is then completed there.
        TRefPtr<IIEValue> result = EvaluateFuzzyValue(routine, *type->GetFuzzyVariable(), value);
        if (!result || result.get() == IEEmptyAtom().get())
            ParseError(routine, imInvalidFuzzyExpression, value->GetText());
        return result;
    } else {
        TStreamTokenRef token = first ? std::move(first) : Next();
        if (IsPlainValue(*token)) {
            value = token->ToValue();
        } else if (token->Is('(')) {
            PushBack(token);
            value = ReadCallValue();
        } else if (token->Is('=')) {
            TStreamTokenRef open = Next();
            if (!open->Is('(')) ParseError("ParseValue", imEqualsAtomInFact);
            PushBack(open);
            value = ReadCallValue();
        } else {
            ParseError("ParseValue", imBadSlotValue, token->AsString());
        }
    }
    if (!StaticTypeCheck || !value) return value;
    const TIEType kind = value->GetDType();
    if (kind == dtNone || kind == dtVariable || kind == dtFunCall || kind == dtMultiVariable)
        return value;
    if (type) {
        if (!type->IsValid(value.get())) ParseError(routine, type->ValidationError(value.get()));
        return value;
    }
    if (types.Contains(kind)) return value;
    if (kind == dtFloat && types.Contains(dtInteger)) {
        const double d = value->AsFloat();
        if (d >= -2147483648.0 && d <= 2147483647.0)
            return TIEValue::CreateInteger(dtInteger, static_cast<int32_t>(d));
    }
    if (kind == dtInteger && types.Contains(dtFloat))
        return TIEValue::CreateFloat(value->AsInteger());
    if (kind == dtList) return value;
    ParseError(routine, imForSlot,
               Format(IEMessage(imNotAType), KindNames(types), value->GetText(), IETypeName(kind)),
               "ParseValue");
}

TRefPtr<IIEValue> TIEClipsParser::ParseValueForSlot(const IFactSlot& slot) {
    return ParseValueForSlotFrom(nullptr, slot);
}

TRefPtr<IIEValue> TIEClipsParser::ParseValueForSlotFrom(TStreamTokenRef first,
                                                        const IFactSlot& slot) {
    // Without a token read already, the value is read through ParseValueForTypes, which a
    // subclass may override.
    TRefPtr<IIEValue> value =
        first ? ParseValueForTypesFrom(std::move(first), slot.GetSlotType(),
                                       slot.GetExtendedTypeInfo().get())
              : ParseValueForTypes(slot.GetSlotType(), slot.GetExtendedTypeInfo().get());
    if (!StaticTypeCheck || !value) return value;
    const TIEType kind = value->GetDType();
    if (kind == dtVariable || kind == dtFunCall || kind == dtMultiVariable) return value;
    if (slot.IsValidValue(value.get())) return value;
    if (kind == dtInteger && slot.GetSlotType().Contains(dtFloat))
        return TIEValue::CreateFloat(value->AsInteger());
    ParseError("ParseValue(Fact Slot)", slot.ValidationMessage(value.get()));
}

// --- Facts ---

TRefPtr<IFact> TIEClipsParser::ParseFact() {
    TNesting nesting(*this, "ParseFact");
    if (!Next()->Is('(')) ParseError("ParseFact", imExpectedAtom);
    TStreamTokenRef nameToken = Next();
    if (nameToken->GetDataType() != dtAtom) ParseError("ParseFact", imExpectedAtom);
    IConstructSink& engine = ConstructSink("ParseFact");
    const std::string& name = nameToken->GetText();
    const bool again = FInFactSet && FSetTemplate && FSetTemplateName == name;
    TRefPtr<IFactTemplate> factTemplate = again ? FSetTemplate : engine.FindFactTemplate(name);
    if (!factTemplate) {
        if (TemplatesMustExist) ParseError("ParseFact", imUnknownFactTemplate, name);
        try {
            factTemplate = engine.ImpliedTemplate(name);
        } catch (const EIEParseException&) {
            throw;
        } catch (const std::exception& e) {
            ParseError("ParseFact", e.what());
        }
    }
    if (FInFactSet && !again) {
        FSetTemplateName = name;
        FSetTemplate = factTemplate;
    }
    // A new fact reads as its defaults the slots the text leaves out; a fact whose dynamic
    // defaults wait for its assertion is one with no value stored yet.
    TRefPtr<IFact> fact = DeferDynamicDefaults ? TRefPtr<IFact>(TFact::Create(factTemplate))
                                               : factTemplate->NewFact();
    if (factTemplate->GetImplied()) {
        TRefPtr<IIEValue> data = ParseList();
        fact->SetSlotValue(DataSlotName, data);
        if (!Next()->Is(')')) ParseError("ParseFact", imExpectedCloseParen);
    } else {
        // Each slot's "(" is read once, not put back for the slot to read it again, unless a
        // subclass's ParseFactSlot is to read the slot.
        const bool own = OwnFactOperations(*this);
        TStreamTokenRef token = Next();
        while (token->Is('(')) {
            if (!own) [[unlikely]] {
                PushBack(token);
                ParseFactSlot(*fact);
            } else {
                // Past the nesting limit the slot is refused as ParseFactSlot refuses it, with
                // its "(" unread.
                if (FNesting >= MaxNesting) PushBack(token);
                TNesting nesting(*this, "ParseFactSlot");
                ReadFactSlot(*fact);
            }
            token = Next();
        }
        if (!token->Is(')')) ParseError("ParseFact", imExpectedCloseParen);
    }
    if (OnParseFact) OnParseFact(this, fact.get());
    return fact;
}

void TIEClipsParser::ParseFactSlot(IFact& fact) {
    TNesting nesting(*this, "ParseFactSlot");
    ExpectOpen("ParseFactSlot");
    ReadFactSlot(fact);
}

void TIEClipsParser::ReadFactSlot(IFact& fact) {
    TStreamTokenRef nameToken = Next();
    if (nameToken->GetDataType() != dtAtom)
        ParseError("ParseFactSlot", imBadSlotName, nameToken->AsString());
    // A plain fact's slot is looked up once, its value then stored by position.
    auto* plain = typeid(fact) == typeid(TFact) ? static_cast<TFact*>(&fact) : nullptr;
    const TFactTemplate* plainTemplate = plain ? plain->Template() : nullptr;
    const int32_t at = plainTemplate ? plainTemplate->IndexOfSlot(nameToken->GetText()) : -1;
    TRefPtr<IFactSlot> slot = at >= 0 ? plainTemplate->Slot(at) : nullptr;
    if (TRefPtr<IFactTemplate> factTemplate = slot ? nullptr : fact.GetTemplate();
        !slot && (!factTemplate || !factTemplate->FindSlot(nameToken->GetText(), slot) || !slot)) {
        try {
            if (factTemplate) factTemplate->SlotByName(nameToken->GetText());
        } catch (const std::exception& e) {
            ParseError("ParseFactSlot", e.what());
        }
        ParseError("ParseFactSlot", imNoSuchSlot, nameToken->GetText());
    }
    TRefPtr<IIEValue> value;
    TStreamTokenRef next = Next();
    if (next->Is(')') && slot->IsMultiSlot()) {
        // The ")" just read closes the slot.
        value = TIEValue::CreateList(TValueVector::Create());
    } else {
        if (OwnFactOperations(*this)) [[likely]] {
            value = ParseValueForSlotFrom(std::move(next), *slot);
        } else {
            // A subclass's ParseValueForSlot reads the value from its first token.
            PushBack(next);
            value = ParseValueForSlot(*slot);
        }
        ExpectClose("ParseFactSlot");
    }
    try {
        if (at >= 0)
            plain->SetSlotValueAt(at, value);
        else
            fact.SetSlotValue(nameToken->GetText(), value);
    } catch (const EIEParseException&) {
        throw;
    } catch (const std::exception& e) {
        ParseError("ParseFactSlot", e.what());
    }
}

bool TIEClipsParser::ParseFacts() {
    IConstructSink* engine = Sink();
    if (!engine || !FStream) return false;
    for (;;) {
        TStreamTokenRef token = Next();
        if (token->IsEndOfInput()) break;
        PushBack(token);
        TRefPtr<IFact> fact = ParseFact();
        engine->AssertFact(fact);
    }
    return true;
}

// --- deftemplate ---

TRefPtr<IFactTemplate> TIEClipsParser::ParseFactTemplate() {
    constexpr std::string_view routine = "ParseFactTemplate";
    IConstructSink& engine = ConstructSink(routine);
    std::string name, comment;
    TStreamTokenRef token =
        ParseConstructHeader(name, comment, imExpectedDeftemplate, routine, "deftemplate", true);
    TRefPtr<IFactTemplate> parent;
    TRefPtr<IIEDefinedType> isA;
    if (token->GetDataType() == dtAtom) {
        if (token->GetText() == "extends") {
            token = Next();
            if (token->GetDataType() != dtAtom) ParseError(routine, imMissingParentTemplate);
            parent = engine.FindFactTemplate(token->GetText());
        } else if (token->GetText() == "is-a") {
            token = Next();
            if (token->GetDataType() != dtAtom) ParseError(routine, imMissingTypeName);
            isA = engine.FindDefinedType(token->GetText());
            if (!isA) ParseError(routine, imTypeNameUnknown, token->GetText());
        } else {
            ParseError(routine, imExpectedExtends);
        }
        token = Next();
    }
    TRefPtr<IFactTemplate> result;
    try {
        // The parent's slots are copied as objects: the template takes over its content
        // without a trip through text.
        TRefPtr<TFactTemplate> created = engine.NewFactTemplate(name);
        created->SetComment(comment);
        if (parent) {
            for (int32_t i = 0; i < parent->SlotCount(); ++i)
                created->AddSlotCopy(*parent->SlotAt(i));
            created->SetParent(parent);
        }
        result = created;
    } catch (const EIEParseException&) {
        throw;
    } catch (const std::exception& e) {
        ParseError(routine, e.what());
    }
    if (isA) {
        TRefPtr<IFactSlot> data = result->AddMultiSlot(DataSlotName, IEEmptyList());
        data->SetExtendedTypeInfo(isA);
    } else {
        auto* owner = static_cast<TFactTemplate*>(result.get());
        while (token->Is('(')) {
            PushBack(token);
            TRefPtr<IFactSlot> slot = ParseFactTemplateSlot(owner);
            try {
                // A slot of the parent that the template defines again is replaced.
                if (result->HasSlot(slot->GetName())) result->DeleteSlot(slot->GetName());
                result->AddSlotCopy(*slot);
            } catch (const EIEParseException&) {
                throw;
            } catch (const std::exception& e) {
                ParseError(routine, e.what());
            }
            token = Next();
        }
    }
    if (!token->Is(')')) ParseError(routine, imExpectedCloseParen);
    if (OnParseFactTemplate) OnParseFactTemplate(this, result.get());
    return result;
}

TRefPtr<IFactSlot> TIEClipsParser::ParseFactTemplateSlot(TFactTemplate* owner) {
    constexpr std::string_view routine = "ParseFactTemplateSlot";
    TNesting nesting(*this, routine);
    IConstructSink& engine = ConstructSink(routine);
    ExpectOpen(routine);
    TStreamTokenRef kindToken = Next();
    bool multi = false;
    if (IsAtom(*kindToken, "multislot")) {
        multi = true;
    } else if (!IsAtom(*kindToken, "slot") && !IsAtom(*kindToken, "field")) {
        ParseError(routine, imInvalidSlotType, kindToken->AsString());
    }
    TIETypes types = SingleSlotTypes();
    if (multi) types = types | MultiSlotMarkers;
    TStreamTokenRef nameToken = Next();
    if (nameToken->GetDataType() != dtAtom)
        ParseError(routine, imBadSlotName, nameToken->AsString());
    TRefPtr<TFactSlot> slot = TFactSlot::Create(nullptr);
    (void)owner; // a free slot: naming it must not enter it in the template yet
    try {
        slot->SetName(nameToken->GetText());
    } catch (const EIEParseException&) {
        throw;
    } catch (const std::exception& e) {
        ParseError(routine, e.what());
    }
    TRefPtr<IIEDefinedType> type;
    TRefPtr<IIEValue> defaultValue;
    bool dynamicDefault = false;
    // The implicit type that range, cardinality, units and allowed values go to.
    auto implicitType = [&]() -> IIEDefinedType& {
        if (types.Contains(dtFuzzy)) ParseError(routine, imCannotModifyFuzzySlotType);
        if (!type) {
            type = engine.NewDefinedType();
            type->SetImplicit(true);
        } else if (!type->GetImplicit()) {
            auto copy = engine.NewDefinedType();
            copy->Assign(dynamic_cast<const TPersistent*>(type.get()));
            copy->SetImplicit(true);
            type = copy;
        }
        return *type;
    };
    TStreamTokenRef token = Next();
    while (token->Is('(')) {
        TStreamTokenRef qualifier = Next();
        if (qualifier->GetDataType() != dtAtom)
            ParseError(routine, imInvalidSlotQualifier, qualifier->AsString());
        const std::string q = LowerText(qualifier->GetText());
        if (q == "default" || q == "default-dynamic") {
            TRefPtr<IIEValue> value = multi ? ParseList() : ParseValueForTypes(types, type.get());
            dynamicDefault = q == "default-dynamic";
            if (!dynamicDefault) {
                try {
                    value = EvaluateNow(value);
                } catch (const EIEParseException&) {
                    throw;
                } catch (const std::exception& e) {
                    ParseError(routine, e.what());
                }
            }
            defaultValue = value;
        } else if (q == "type") {
            TRefPtr<IIEDefinedType> named;
            TIETypes words = ParseSlotTypes(named);
            types = multi ? words | MultiSlotMarkers : words;
            if (named) type = named;
        } else if (q == "range" || q == "cardinality") {
            IIEDefinedType& t = implicitType();
            ParseRangeClause(&t, nullptr, q == "cardinality", true);
        } else if (q == "units") {
            IIEDefinedType& t = implicitType();
            t.SetUnits(ParseUnits(routine));
        } else if (q.starts_with("allowed-")) {
            IIEDefinedType& t = implicitType();
            ParseAllowedClause(t, *qualifier);
        } else {
            ParseError(routine, imInvalidSlotQualifier, qualifier->GetText());
        }
        if (!Next()->Is(')')) ParseError(routine, imExpectedCloseParen);
        token = Next();
    }
    if (!token->Is(')')) ParseError("ParseFactTemplate", imExpectedCloseParen);
    // The type first: taking a type resets the kinds to the type's, and the kinds then go to
    // an implicit type as its base kinds.
    if (type) slot->SetExtendedTypeInfo(type);
    slot->SetSlotType(types);
    slot->SetDefaultDynamic(dynamicDefault);
    if (defaultValue && types.Contains(dtFuzzy) && type && type->GetFuzzyVariable() &&
        (defaultValue->GetDType() == dtAtom || defaultValue->GetDType() == dtString)) {
        TRefPtr<IFuzzySet> term;
        if (type->GetFuzzyVariable()->Find(defaultValue->AsString(), term))
            defaultValue = TIEValue::CreateFuzzy(term);
    }
    if (defaultValue && StaticTypeCheck && !dynamicDefault &&
        !defaultValue->Equals(IEEmptyAtom().get())) {
        TRefPtr<IValueVector> list =
            defaultValue->GetDType() == dtList ? defaultValue->AsList() : nullptr;
        const bool emptyList = defaultValue->GetDType() == dtList && (!list || list->Count() == 0);
        if (!emptyList && !slot->IsValidValue(defaultValue.get())) {
            if (defaultValue->GetDType() == dtInteger && types.Contains(dtFloat))
                defaultValue = TIEValue::CreateFloat(defaultValue->AsInteger());
            else
                ParseError(routine, slot->ValidationMessage(defaultValue.get()));
        }
    }
    if (defaultValue) slot->SetSlotDefault(defaultValue);
    return slot;
}

// --- deffacts ---

TFactSet* TIEClipsParser::ParseFactSet() {
    constexpr std::string_view routine = "ParseFactSet";
    IConstructSink& engine = ConstructSink(routine);
    std::string name, comment;
    TStreamTokenRef token =
        ParseConstructHeader(name, comment, imExpectedDeffacts, routine, "deffacts", true);
    auto* factSet = engine.NewFactSet(name);
    const TOnFailure freeHalfRead([factSet] { factSet->Free(); });
    factSet->SetComment(comment);
    std::vector<TRefPtr<IFact>> facts;
    {
        TDeferDynamicDefaults deferred(*this);
        const TOnExit forget([this] {
            FInFactSet = false;
            FSetTemplate = nullptr;
        });
        FInFactSet = true;
        while (token->Is('(')) {
            PushBack(token);
            facts.push_back(ParseFact());
            token = Next();
        }
    }
    if (!token->Is(')')) ParseError(routine, imExpectedCloseParen);
    engine.AttachFactSet(*factSet);
    for (const TRefPtr<IFact>& fact : facts)
        factSet->AddFact(fact);
    if (OnParseFactSet) OnParseFactSet(this, factSet);
    return factSet;
}

// ---------------------------------------------------------------------------------------------
// Writing

std::string TIEParser::FormatFactSet(const TFactSet& factSet) {
    std::string r = "(deffacts " + factSet.FactSetName();
    if (!factSet.Comment().empty()) r += " " + QuotedComment(factSet.Comment());
    r += CRLF;
    auto& facts = const_cast<TFactSet&>(factSet);
    for (int32_t i = 0; i < factSet.Facts().Count(); ++i) {
        TRefPtr<IFact> fact = facts.GetFact(i);
        const std::string text = fact ? FormatFact(*fact) : factSet.Facts().Get(i);
        r += Indent + IndentLines(text, Indent) + CRLF;
    }
    return r + ")";
}

std::string TIEParser::FormatFact(const IFact& fact) {
    const TRefPtr<IFactTemplate> t = fact.GetTemplate();
    const bool implied = t && t->GetImplied();
    // A subclass's fact is written slot by slot through FormatFactSlotValue, which it may
    // override; this project's own parser writes the slots in place.
    const bool own = OwnFactOperations(*this);
    // A plain fact is read by position: the template's slot i is the fact's value i.
    const auto* plain = typeid(fact) == typeid(TFact) ? static_cast<const TFact*>(&fact) : nullptr;
    return WriteFact(fact, [&](std::string& r, int32_t i, const IFactSlot& slot) {
        const std::string& name = slot.GetName();
        std::string text;
        bool whole = true;
        if (implied) {
            const TRefPtr<IIEValue> data = fact.GetSlotValue(DataSlotName);
            text = FactValueText(data.get());
        } else if (!own) [[unlikely]] {
            const TRefPtr<IIEValue> value = fact.GetSlotValue(name);
            text = FormatFactSlotValue(fact, name, value.get());
        } else {
            TRefPtr<IIEValue> held;
            const IIEValue* value;
            if (plain) {
                value = plain->ValueAt(i).get();
            } else {
                held = fact.GetSlotValue(name);
                value = held.get();
            }
            text = SlotValueText(&slot, name, value, whole);
        }
        if (text.empty()) return false;
        r += ' ';
        if (whole) {
            r += text;
        } else {
            r += '(';
            r += name;
            r += ' ';
            r += text;
            r += ')';
        }
        return true;
    });
}

std::string TIEParser::FormatFactSlotValue(const IFact& fact, std::string_view slotName) {
    TRefPtr<IIEValue> value = fact.GetSlotValue(slotName);
    return FormatFactSlotValue(fact, slotName, value.get());
}

std::string TIEParser::FormatFactSlotValue(const IFact& fact, std::string_view slotName,
                                           const IIEValue* value) {
    // Whether a value may be left out, or must be spelled, depends on the declared slot's
    // default; an implied template has none.
    TRefPtr<IFactSlot> slot;
    if (TRefPtr<IFactTemplate> t = fact.GetTemplate(); t && !t->GetImplied())
        t->FindSlot(slotName, slot);
    bool whole = false;
    std::string text = SlotValueText(slot.get(), slotName, value, whole);
    if (whole) return text;
    return FormatFactSlotValueText(fact, slotName, text);
}

std::string TIEParser::SlotValueText(const IFactSlot* slot, std::string_view slotName,
                                     const IIEValue* value, bool& whole) {
    whole = false;
    std::string text = FactValueText(value);
    const TRefPtr<IIEValue> def = slot ? slot->GetSlotDefault() : nullptr;
    // A fact of a fact set holds a dynamic default as written, to be evaluated at each reset;
    // left out, it reads back as that default.
    if (!text.empty() && slot && slot->GetDefaultDynamic() && def &&
        FactValueText(def.get()) == text)
        return {};
    whole = true;
    if (value && value->Equals(IEEmptyAtom().get())) {
        // A nil slot is left out, as the default gives it back; in a slot whose default is
        // something else it must be written.
        if (slot && !slot->IsMultiSlot() && def && !def->Equals(IEEmptyAtom().get()))
            return "(" + std::string(slotName) + " " + text + ")";
        return {};
    } else if (text.empty() && value && value->GetDType() == dtFuzzy) {
        // The empty fuzzy value writes as nothing; in a slot whose default is another value it
        // is written by the name that reads back as the empty term.
        if (slot && def && !FormatValue(def.get()).empty())
            return "(" + std::string(slotName) + " " + std::string(FuzzyEmptySetName) + ")";
    } else if (text.empty()) {
        // An empty multislot whose default is not empty is written as "(name)", or it would
        // read back as its default.
        if (slot && slot->IsMultiSlot() && !IsEmptyDefault(def.get()) &&
            !FormatValue(def.get()).empty())
            return "(" + std::string(slotName) + ")";
    }
    whole = false;
    return text;
}

std::string TIEParser::FormatFactSlotValueText(const IFact& fact, std::string_view slotName,
                                               std::string_view valueText) {
    if (valueText.empty()) return {};
    TRefPtr<IFactTemplate> t = fact.GetTemplate();
    if (t && t->GetImplied()) return std::string(valueText);
    return "(" + std::string(slotName) + " " + std::string(valueText) + ")";
}

std::string TIEParser::FormatFactSlot(const IFactSlot& slot) {
    const TIETypes types = slot.GetSlotType();
    const bool multi = types.Contains(dtMultiSlot) || types.Contains(dtList);
    std::string r = (multi ? "(multislot " : "(slot ") + slot.GetName() + " ";
    std::string defaultPart;
    TRefPtr<IIEValue> def = slot.GetSlotDefault();
    if (!IsEmptyDefault(def.get()) && !def->Equals(IEEmptyAtom().get())) {
        const std::string text = FormatValue(def.get());
        if (!TrimmedText(text).empty())
            defaultPart =
                (slot.GetDefaultDynamic() ? "(default-dynamic " : "(default ") + text + ") ";
    } else if (def && !slot.GetDefaultDynamic()) {
        // A nil or empty default is written when the slot would read back with another one
        // (the first allowed value of its type, say).
        TRefPtr<IIEValue> natural = slot.NewDefaultValue(multi);
        if (natural && !IsEmptyDefault(natural.get()) && !natural->Equals(IEEmptyAtom().get()) &&
            !TrimmedText(FormatValue(natural.get())).empty())
            defaultPart = multi ? "(default) " : "(default " + std::string(NilWord) + ") ";
    }
    TRefPtr<IIEDefinedType> type = slot.GetExtendedTypeInfo();
    if (type) {
        if (type->GetImplicit() && type->GetName() != ImplicitTypeName) {
            // A named type with the slot's own qualifiers after it: the copy keeps the name.
            const TIETypes added = (types - MultiSlotMarkers) - type->GetBaseTypes();
            r += "(type " + type->GetName() + (added.Empty() ? "" : " " + TypeWords(added)) + ")" +
                 CRLF + TypeClauses(*type);
        } else if (type->GetImplicit()) {
            r += "(type " + TypeWords(types) + ")" + CRLF + TypeClauses(*type);
        } else {
            r += "(type " + type->GetName() + ")";
        }
        if (!defaultPart.empty()) r += Indent + Indent + defaultPart;
    } else if ((types - MultiSlotMarkers) == SingleSlotTypes()) {
        r += defaultPart;
    } else {
        r += "(type " + TypeWords(types) + ")";
        if (!defaultPart.empty()) r += CRLF + Indent + Indent + defaultPart;
    }
    return r + ")";
}

std::string TIEParser::FormatFactTemplate(const IFactTemplate& factTemplate) {
    std::string r = "(deftemplate " + factTemplate.GetName();
    if (!factTemplate.GetComment().empty()) r += " " + QuotedComment(factTemplate.GetComment());
    TRefPtr<IFactTemplate> parent = factTemplate.GetParent();
    if (parent) r += CRLF + Indent + "extends " + parent->GetName();
    if (factTemplate.SlotCount() == 1) {
        TRefPtr<IFactSlot> data = factTemplate.SlotAt(0);
        TRefPtr<IIEDefinedType> type = data->GetExtendedTypeInfo();
        if (data->GetName() == DataSlotName && type && !type->GetImplicit())
            return r + " is-a " + type->GetName() + ")";
    }
    r += CRLF;
    for (int32_t i = 0; i < factTemplate.SlotCount(); ++i) {
        // Inherited slots too: the text alone says every slot the template has, in its order.
        TRefPtr<IFactSlot> slot = factTemplate.SlotAt(i);
        r += Indent + IndentLines(FormatFactSlot(*slot), Indent) + CRLF;
    }
    return r + ")";
}

} // namespace ie
