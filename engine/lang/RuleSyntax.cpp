// Rules and patterns, read and written: defrule with its declarations, conditional elements and
// actions, and the constraints of a pattern's slots.
//
// Invariant: a variable of a rule's conditions keeps the kind of its first occurrence
// (TRuleBindings), and the writer undoes what the reader generates: an "=" term kept as a
// generated variable with its eq* test, and a "|" run compiled against a variable, are written as
// they were read.
#include "engine/lang/IEClipsParser.h"

#include "engine/lang/SyntaxText.h"
#include "engine/match/IERule.h"
#include "engine/match/IESlotTest.h"
#include "engine/model/IEContext.h"
#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEHelperFunctions.h"
#include "engine/model/IEValue.h"
#include "platform/Restore.h"

namespace ie {

namespace {

bool IsGeneratedVariable(const IIEValue* value) {
    return value && (value->GetDType() == dtVariable || value->GetDType() == dtMultiVariable) &&
           IsGeneratedVariableName(VariableName(*value));
}

// The expression of an "=" constraint, which the reader keeps as a generated variable followed
// by the test (eq* variable expression); null when the two values are not such a pair.
const IIEValue* EqualsExpression(const IIEValue* variable, const IIEValue* next) {
    if (!next || next->GetDType() != dtFunCall) return nullptr;
    TRefPtr<IFunCall> call = next->AsFunCall();
    if (!call || call->GetFunctionName() != "eq*" || call->ArgumentCount() != 2) return nullptr;
    // In a rule the call refers to the variable by its binding.
    const IIEValue* first = call->GetArgument(0).get();
    std::string name;
    if (first && first->GetDType() == dtObject) {
        if (auto* binding = dynamic_cast<const TBinding*>(first->AsObject())) name = binding->Name;
    } else if (first && (first->GetDType() == dtVariable || first->GetDType() == dtMultiVariable)) {
        name = VariableName(*first);
    }
    if (name != VariableName(*variable)) return nullptr;
    return call->GetArgument(1).get();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Reading

// --- defrule ---

TRule* TIEClipsParser::ParseRule() {
    constexpr std::string_view routine = "ParseRule";
    IConstructSink& engine = ConstructSink(routine);
    std::string name, comment;
    TStreamTokenRef token =
        ParseConstructHeader(name, comment, imExpectedDefrule, routine, "defrule", true);
    auto* rule = engine.NewRule();
    rule->BeginUpdate();
    const TOnFailure freeHalfRead([rule] { rule->Free(); });
    try {
        rule->SetRuleName(name);
    } catch (const EIEParseException&) {
        throw;
    } catch (const std::exception& e) {
        ParseError(routine, e.what());
    }
    rule->SetComment(comment);
    PushBack(token);
    if (token->Is('(') && In().PeekKeyword() == "declare") {
        Next();
        Next();
        token = Next();
        while (token->Is('(')) {
            TStreamTokenRef property = Next();
            if (IsAtom(*property, "salience")) {
                TStreamTokenRef v = Next();
                if (v->GetDataType() == dtInteger) {
                    rule->SetSalience(static_cast<int32_t>(v->GetNumber()));
                } else if (v->GetDataType() == dtVariable) {
                    rule->SetSalienceExpression(v->ToValue());
                } else if (v->Is('(')) {
                    PushBack(v);
                    rule->SetSalienceExpression(ReadCallValue());
                } else {
                    ParseError(routine, imExpectedIntegerArgument, "salience");
                }
            } else if (IsAtom(*property, "oneshot") || IsAtom(*property, "enabled")) {
                TStreamTokenRef v = Next();
                TRefPtr<IIEValue> value;
                if (v->Is('(')) {
                    PushBack(v);
                    value = EvaluateFunCall();
                } else if (IsPlainValue(*v)) {
                    value = v->ToValue();
                } else {
                    ParseError(routine, imExpectedValueMissing);
                }
                const bool on = value && value->Equals(IETrueValue().get());
                if (property->GetText() == "oneshot")
                    rule->SetOneShot(on);
                else
                    rule->SetEnabled(on);
            } else {
                ParseError(routine, imExpectedRuleProperty);
            }
            if (!Next()->Is(')')) ParseError(routine, imExpectedCloseParen);
            token = Next();
        }
        if (!token->Is(')')) ParseError(routine, imExpectedCloseParen);
    }
    TRuleBindings bindings;
    ParseRulePatterns(*rule, bindings);
    token = Next();
    if (!token->Is('=')) ParseError(routine, imExpectedArrow);
    token = Next();
    if (!IsAtom(*token, ">")) ParseError(routine, imExpectedArrow);
    ParseRuleActions(*rule);
    if (!Next()->Is(')')) ParseError(routine, imExpectedCloseParen);
    if (OnParseRule) OnParseRule(this, rule);
    rule->EndUpdate();
    return rule;
}

void TIEClipsParser::ParseRulePatterns(TRule& rule, TRuleBindings& bindings) {
    constexpr std::string_view routine = "ParseRulePatterns";
    for (;;) {
        TStreamTokenRef token = Next();
        std::string boundName;
        if (token->GetDataType() == dtVariable) {
            boundName = token->GetText();
            if (!IsAtom(*Next(), "<-")) ParseError(routine, imExpectedLeftArrow);
            token = Next();
            if (!token->Is('(')) ParseError(routine, imExpectedAtom);
        } else if (!token->Is('(')) {
            PushBack(token);
            return;
        }
        PushBack(token);
        const TRuleBindings before = bindings;
        std::unique_ptr<TIEPattern> pattern = ParsePattern(rule, 0, bindings);
        // A variable first written inside not or exists is that element's own: the same name
        // later is a new variable, of the kind its own first use gives it.
        if (pattern->NegatedCount() > 0 && bindings.size() != before.size())
            std::erase_if(bindings, [&](const auto& b) { return !before.contains(b.first); });
        if (!boundName.empty()) {
            if (pattern->IsNegated() || pattern->IsTest())
                ParseError(routine, imNotAndTestCannotBind);
            pattern->SetBoundName(boundName);
        }
        try {
            rule.AddPattern(std::move(pattern));
        } catch (const EIEParseException&) {
            throw;
        } catch (const std::exception& e) {
            ParseError(routine, e.what());
        }
    }
}

void TIEClipsParser::ParseRuleActions(TRule& rule) {
    for (;;) {
        TStreamTokenRef token = Next();
        PushBack(token);
        if (!token->Is('(')) return;
        rule.AddAction(ParseFunCall());
    }
}

std::unique_ptr<TIEPattern> TIEClipsParser::ParsePattern(TRule& rule, int32_t negatedCount,
                                                         TRuleBindings& bindings) {
    constexpr std::string_view routine = "ParsePattern";
    TNesting nesting(*this, routine);
    IConstructSink& engine = ConstructSink(routine);
    TStreamTokenRef open = Next();
    if (!open->Is('(')) ParseError(routine, imExpectedAtom);
    TStreamTokenRef nameToken = Next();
    if (nameToken->GetDataType() != dtAtom) ParseError(routine, imExpectedAtom);
    const std::string comment(TrimText(open->GetWhiteSpace()));
    const std::string& name = nameToken->GetText();
    std::unique_ptr<TIEPattern> pattern;
    if (name == "not" || name == "exists" || name == "unique" || name == "explicit") {
        const int32_t count = name == "not"      ? negatedCount + 1
                              : name == "exists" ? negatedCount + 2
                                                 : negatedCount;
        pattern = ParsePattern(rule, count, bindings);
        if (name == "unique") pattern->SetUnique(true);
        if (name == "explicit") pattern->SetExplicit(true);
    } else if (name == TestCEName) {
        // A test matches no fact: it stands on the engine's own placeholder template, so that
        // "test" never becomes a template the user sees.
        TRefPtr<IFactTemplate> testTemplate = engine.ImpliedTemplate(NotOrTestTemplateName);
        pattern = rule.NewPattern(TestCEName, testTemplate, 0);
        TStreamTokenRef callOpen = Next();
        PushBack(callOpen);
        if (!callOpen->Is('(')) ParseError(routine, imExpectedOpenParen);
        TRefPtr<IIEValue> call = ReadCallValue();
        pattern->AddSlotTest(DataSlotName, call, true, (negatedCount & 1) != 0, -1);
    } else {
        TRefPtr<IFactTemplate> factTemplate;
        try {
            factTemplate = engine.ImpliedTemplate(name);
        } catch (const EIEParseException&) {
            throw;
        } catch (const std::exception& e) {
            ParseError(routine, e.what());
        }
        pattern = rule.NewPattern(name, factTemplate, negatedCount);
        if (factTemplate->GetImplied()) {
            TRefPtr<IFactSlot> data;
            factTemplate->FindSlot(DataSlotName, data);
            ParseSlotConstraints(*pattern, data.get(), DataSlotName, true, bindings);
        } else {
            for (;;) {
                TStreamTokenRef token = Next();
                if (!token->Is('(')) {
                    PushBack(token);
                    break;
                }
                TStreamTokenRef slotToken = Next();
                if (slotToken->GetDataType() != dtAtom)
                    ParseError(routine, imBadSlotName, slotToken->AsString());
                TRefPtr<IFactSlot> slot;
                if (!factTemplate->FindSlot(slotToken->GetText(), slot) || !slot)
                    ParseError(routine, imNoSuchSlot, slotToken->GetText());
                ParseSlotConstraints(*pattern, slot.get(), slotToken->GetText(),
                                     slot->IsMultiSlot(), bindings);
                ExpectClose(routine);
            }
        }
    }
    if (!comment.empty() && pattern->Comment().empty()) pattern->SetComment(comment);
    ExpectClose(routine);
    if (OnParsePattern) OnParsePattern(this, pattern.get());
    return pattern;
}

TRefPtr<IIEValue> TIEClipsParser::ParseConstraintValue(TIEPattern& pattern, const IFactSlot* slot,
                                                       std::string_view slotName, bool multi,
                                                       TRuleBindings& bindings,
                                                       TStreamTokenRef token, int32_t subIndex,
                                                       bool conjunction, bool notEqual) {
    constexpr std::string_view routine = "ParsePattern";
    const int32_t kind = token->GetDataType();
    TRefPtr<IIEValue> value;
    if (kind == dtVariable || kind == dtMultiVariable) {
        auto [it, first] = bindings.try_emplace(token->GetText(), static_cast<TIEType>(kind));
        value = TIEValue::CreateText(it->second, token->GetText());
        (void)first;
    } else if (IsAtom(*token, ":")) {
        TStreamTokenRef open = Next();
        PushBack(open);
        if (!open->Is('(')) ParseError(routine, imExpectedOpenParen);
        value = ReadCallValue();
    } else if (token->Is('=')) {
        TStreamTokenRef open = Next();
        PushBack(open);
        if (!open->Is('(')) ParseError(routine, imExpectedOpenParen);
        TRefPtr<IIEValue> call = ReadCallValue();
        // The term stands for one value, a multislot's element as much as a single slot.
        const TIEType varKind = dtVariable;
        TRefPtr<IIEValue> variable = TIEValue::CreateText(varKind, GenerateName(BlankVariableName));
        bindings.try_emplace(VariableName(*variable), varKind);
        pattern.AddSlotTest(slotName, variable, conjunction, false, subIndex);
        TRefPtr<IFunCall> eq = FEngine->CreateFunCall("eq*");
        eq->AddArgument(variable);
        eq->AddArgument(call);
        value = TIEValue::CreateFunCall(eq);
        conjunction = true;
    } else if (slot && slot->GetSlotType().Contains(dtFuzzy) &&
               (multi ? kind == dtAtom || kind == dtString || token->Is('[')
                      : StartsFuzzyExpression(*token))) {
        // A linguistic expression (very hot, [hot or warm], a point list): the test compares
        // the slot's fuzzy value with the expression's set by their degree of match. Every
        // element of a fuzzy multislot is a fuzzy value too, so a term name written for one
        // element becomes its set; a number stays a crisp constant matched by membership.
        const TRefPtr<IIEDefinedType> type = slot->GetExtendedTypeInfo();
        if (!type || !type->GetFuzzyVariable()) ParseError(routine, imFuzzyTypeNeeded);
        if (multi) {
            value = token->Is('[') ? ReadBracketedElement() : token->ToValue();
        } else {
            PushBack(token);
            value = ParseValue();
            if (!value) ParseError(routine, imExpectedValueMissing);
            if (value->GetDType() == dtFunCall) value = EvaluateNow(value);
        }
        if (!value || value->GetDType() != dtFuzzy)
            value = EvaluateFuzzyValue(routine, *type->GetFuzzyVariable(), value);
        if (!value || value.get() == IEEmptyAtom().get())
            ParseError(routine, imInvalidFuzzyExpression, token->AsString());
    } else if (kind == dtAtom || kind == dtString || kind == dtInteger || kind == dtFloat) {
        value = ConstantValue(token);
    } else {
        ParseError(routine, imBadSlotValue, token->AsString());
    }
    pattern.AddSlotTest(slotName, value, conjunction, notEqual, subIndex);
    return value;
}

TRefPtr<IIEValue> TIEClipsParser::ReadBracketedElement() {
    // The opening bracket has been read. In a multislot each element is one term, so the
    // expression ends with its matching bracket rather than with the slot's parenthesis.
    auto items = TValueVector::Create();
    items->Add(TIEValue::CreateText(dtAtom, "["));
    for (int32_t depth = 1; depth > 0;) {
        TStreamTokenRef token = Next();
        if (token->Is(')') || token->IsEndOfInput())
            ParseError("ParsePattern", imMissingFuzzyCloseBracket);
        if (token->Is('[') || token->Is(']')) {
            depth += token->Is('[') ? 1 : -1;
            items->Add(TIEValue::CreateText(dtAtom, token->GetText()));
        } else if (token->Is('(')) {
            PushBack(token);
            items->Add(ReadParenthesisedValue());
        } else if (IsPlainValue(*token)) {
            items->Add(token->ToValue());
        } else {
            ParseError("ParsePattern", imBadSlotValue, token->AsString());
        }
    }
    return TIEValue::CreateList(items);
}

bool TIEClipsParser::StartsFuzzyExpression(const IStreamToken& token) {
    const int32_t kind = token.GetDataType();
    if (kind == dtAtom || kind == dtString) return true;
    if (token.Is('[') || token.Is('(')) return true;
    if (kind != dtInteger && kind != dtFloat) return false;
    // A number alone is a crisp constant (matched by membership); followed by more items it
    // starts an expression such as 50 +X 10.
    TStreamTokenRef after = Next();
    PushBack(after);
    return !(after->Is(')') || after->Is('&') || after->Is('|') || after->IsEndOfInput());
}

void TIEClipsParser::ParseSlotConstraints(TIEPattern& pattern, const IFactSlot* slot,
                                          std::string_view slotName, bool multi,
                                          TRuleBindings& bindings) {
    constexpr std::string_view routine = "ParsePattern";
    int32_t position = multi ? 0 : -1;
    int32_t terms = 0;
    for (;;) {
        TStreamTokenRef token = Next();
        if (token->Is(')')) {
            PushBack(token);
            break;
        }
        if (!multi && terms > 0) ParseError(routine, imSlotNotMultislot, slotName);
        bool conjunction = true;
        for (;;) {
            bool notEqual = false;
            if (token->Is('~')) {
                notEqual = true;
                token = Next();
            }
            try {
                ParseConstraintValue(pattern, slot, slotName, multi, bindings, token, position,
                                     conjunction, notEqual);
            } catch (const EIEParseException&) {
                throw;
            } catch (const std::exception& e) {
                ParseError(routine, e.what());
            }
            token = Next();
            if (token->Is('&')) {
                conjunction = true;
            } else if (token->Is('|')) {
                conjunction = false;
            } else {
                PushBack(token);
                break;
            }
            token = Next();
        }
        ++terms;
        if (multi) ++position;
    }
    // A multislot matches exactly the number of elements written: none written means empty.
    if (multi) {
        const int32_t index = pattern.IndexOfSlot(slotName);
        if (index >= 0) pattern.SetMultiSlotLength(index, terms);
    }
}

// ---------------------------------------------------------------------------------------------
// Writing

std::string TIEParser::FormatRule(const TRule& rule) {
    std::string r = "(defrule " + rule.RuleName();
    if (!rule.Comment().empty()) r += CRLF + Indent + QuotedComment(rule.Comment());
    r += CRLF;
    const TRefPtr<IIEValue>& salience = rule.SalienceExpression();
    // A salience given by a variable or a call is written as written, not as its last value.
    const bool dynamic = salience && salience->GetDType() != dtInteger;
    if (dynamic || rule.Salience() != 0 || rule.OneShot() || !rule.Enabled()) {
        r += Indent + "(declare";
        if (dynamic)
            r += " (salience " + FormatValue(salience.get()) + ")";
        else if (rule.Salience() != 0)
            r += " (salience " + IntToStr(rule.Salience()) + ")";
        if (!rule.Enabled()) r += " (enabled FALSE)";
        if (rule.OneShot()) r += " (oneshot TRUE)";
        r += ")" + CRLF;
    }
    r += FormatRuleSide(rule, 0);
    r += CRLF + Indent + "=>" + CRLF;
    r += FormatRuleSide(rule, 1);
    return r + ")";
}

std::string TIEParser::FormatRuleSide(const TRule& rule, int32_t side) {
    std::string r;
    bool first = true;
    auto add = [&](const std::string& text) {
        if (!first) r += CRLF;
        first = false;
        r += Indent + IndentLines(text, Indent);
    };
    if (side == 0) {
        for (int32_t i = 0; i < rule.PatternCount(); ++i) {
            // The partner of a goal pattern is made again when the goal pattern is read.
            if (i > 0 && rule.GetPattern(i - 1)->Name().starts_with(GoalFactPrefix)) continue;
            add(FormatPattern(*rule.GetPattern(i)));
        }
    } else {
        for (int32_t i = 0; i < rule.ActionCount(); ++i)
            if (const TRefPtr<IFunCall>& action = rule.GetAction(i)) add(FormatFunCall(*action));
    }
    return r;
}

std::string TIEParser::FormatConstraints(const std::vector<TConstraintItem>& items,
                                         bool writtenRun) {
    std::string r;
    bool any = false;
    int32_t lastSub = 0;
    for (size_t k = 0; k < items.size(); ++k) {
        const TConstraintItem& item = items[k];
        const TConstraintItem* next =
            k + 1 < items.size() && items[k + 1].Sub == item.Sub ? &items[k + 1] : nullptr;
        std::string text;
        const IIEValue* expression = nullptr;
        if (IsGeneratedVariable(item.Value) && next && next->Written) {
            // The variable a "|" run was compiled against: the run is written as it was read.
            continue;
        } else if (IsGeneratedVariable(item.Value) && next && next->Conjunction &&
                   (expression = EqualsExpression(item.Value, next->Value))) {
            text = next->Type == sttNotEquals ? "~=" : "=";
            text += FormatValue(expression);
            ++k;
        } else if (item.Written) {
            std::vector<TConstraintItem> run;
            for (const TWrittenConstraint& c : *item.Written)
                run.push_back({c.Type, c.Value.get(), c.Conjunction, item.Sub, nullptr});
            text = FormatConstraints(run, true);
        } else {
            if (item.Type == sttNotEquals) text = "~";
            if (IsGeneratedVariable(item.Value))
                text += item.Value->GetDType() == dtMultiVariable ? "$?" : "?";
            else if (item.Value && item.Value->GetDType() == dtFunCall)
                text += ":" + FormatValue(item.Value);
            else
                text += FormatValue(item.Value);
        }
        // Tests of one element are joined as they were read: a pattern that has not joined a
        // rule yet still holds its "|" tests as they stand.
        if (any) r += item.Sub != lastSub && !writtenRun ? ' ' : item.Conjunction ? '&' : '|';
        r += text;
        any = true;
        lastSub = item.Sub;
    }
    return r;
}

std::string TIEParser::FormatPattern(const TIEPattern& pattern) {
    const TRefPtr<IFactTemplate>& factTemplate = pattern.FactTemplate();
    if (!factTemplate) RaiseIE(imFactTemplateMissing);
    const bool isTest = pattern.IsTest();
    auto constraints = [&](int32_t slot) {
        std::vector<TConstraintItem> items;
        for (const auto& test : pattern.GetSlotTests(slot))
            items.push_back({test->SlotTestType(), test->SlotValue().get(), test->Conjunction(),
                             test->MultiSlotSubIndex(), test->WrittenForm()});
        return FormatConstraints(items, false);
    };
    std::string r = CommentLines(pattern.Comment());
    std::string body;
    if (isTest) {
        // A negated test is written as (not (test ...)): "~" before a call does not read back.
        bool negated = false;
        for (int32_t s = 0; s < pattern.SlotCount(); ++s) {
            for (const auto& test : pattern.GetSlotTests(s)) {
                if (test->SlotTestType() == sttNotEquals) negated = true;
                if (!body.empty()) body += " ";
                body += FormatValue(test->SlotValue().get());
            }
        }
        body = "(" + std::string(TestCEName) + " " + body + ")";
        if (negated) body = "(not " + body + ")";
    } else {
        std::string inner;
        if (factTemplate->GetImplied()) {
            const int32_t s = pattern.IndexOfSlot(DataSlotName);
            // An ordered element without tests is written bare: a generated variable would
            // make it need one element, and the initial fact has none.
            if (s >= 0) inner = constraints(s);
        } else {
            for (int32_t s = 0; s < pattern.SlotCount(); ++s) {
                if (pattern.SlotTestCount(s) == 0) {
                    // An empty multislot constraint still demands an empty value.
                    if (pattern.GetMultiSlotLength(s) == 0)
                        inner += "(" + pattern.GetSlotName(s) + ") ";
                    continue;
                }
                inner += "(" + pattern.GetSlotName(s) + " " + constraints(s) + ") ";
            }
        }
        body = "(" + factTemplate->GetName();
        if (!inner.empty()) body += " " + inner;
        body += ")";
        if (pattern.Unique()) body = "(unique " + body + ")";
        if (pattern.Explicit()) body = "(explicit " + body + ")";
        const int32_t n = pattern.NegatedCount();
        if (n == 1) {
            body = "(not " + body + ")";
        } else if (n >= 2) {
            body = "(exists " + body + ")";
            for (int32_t i = 2; i < n; ++i)
                body = "(not " + body + ")";
        }
    }
    if (!pattern.BoundName().empty()) body = "?" + pattern.BoundName() + " <- " + body;
    return r + body;
}

} // namespace ie
