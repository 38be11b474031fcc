// The miscellaneous package's functions: dates and times, dialogs, the listings of the engine's
// constructs, the engine settings, pretty-printing and undefining, "parse" and "guard".
//
// Invariant: the functions keep no engine state (each body reaches the engine through its
// context), and a variant object's selector agrees with its name. Works on the concrete engine
// (its construct tables, settings, fact sets and writer), hence EngineAccess.
#include "packages/MiscPackage.h"

#include <algorithm>
#include <array>

#include "containers/Structures.h"
#include "engine/InferenceEngine.h"
#include "engine/model/IEFacts.h"
#include "engine/model/IEHelperFunctions.h"
#include "engine/model/IEInterpretedFunction.h"
#include "engine/model/IEValue.h"
#include "packages/EngineAccess.h"
#include "platform/DateTime.h"
#include "platform/DialogService.h"
#include "platform/Format.h"
#include "platform/Restore.h"

namespace ie {

namespace {

// The argument's text, or empty when the call has fewer arguments.
std::string OptionalText(IFunCall* call, TIEContext* context, int32_t index) {
    return index < call->ArgumentCount() ? EvalArg(call, index, context)->AsString() : "";
}

TRefPtr<IIEValue> StringValue(std::string_view text) {
    return TIEValue::CreateText(dtString, text);
}

constexpr std::array<TVariantFunction::TSpec, 7> DecodeSpecs = {{
    {"decode-year", "Returns the year value from a system date",
     " <system-date-numeric-expression>", 1, 1},
    {"decode-month", "Returns the month value from a system date",
     " <system-date-numeric-expression>", 1, 1},
    {"decode-day", "Returns the day value from a system date", " <system-date-numeric-expression>",
     1, 1},
    {"decode-hour", "Returns the hour value from a system time",
     " <system-time-numeric-expression>", 1, 1},
    {"decode-minute", "Returns the minute value from a system time",
     " <system-time-numeric-expression>", 1, 1},
    {"decode-second", "Returns the second value from a system time",
     " <system-time-numeric-expression>", 1, 1},
    {"decode-millisecond", "Returns the millisecond value from a system time",
     " <system-time-numeric-expression>", 1, 1},
}};

constexpr std::array<TVariantFunction::TSpec, 2> EncodeSpecs = {{
    {"encode-date",
     "Returns a system date that represents the year, month, and day <integer-expression> "
     "parameters",
     " <year-integer-expression> [<month-integer-expression> [<day-integer-expression>]]", 1, 3},
    {"encode-time",
     "Returns a system time that represents the hours, minutes, seconds and milliseconds "
     "<integer-expression> parameters",
     " <hour-integer-expression> [<minute-integer-expression> [<second-integer-expression> "
     "[<millisecond-integer-expression>]]]",
     1, 4},
}};

constexpr std::array<TVariantFunction::TSpec, 3> SystemDateTimeSpecs = {{
    {"system-datetime", "Returns the date and time (stored in a float)", "", 0, 0},
    {"system-date", "Returns the date (stored in a float)", "", 0, 0},
    {"system-time", "Returns the time of day as a fraction of a day (stored in a float)", "", 0, 0},
}};

constexpr std::array<TVariantFunction::TSpec, 7> DateTimeStringSpecs = {{
    {"str-datetime", "Returns the date and time converted from a string to system datetime format",
     " <string-expression> ", 1, 1},
    {"str-date", "Returns the date converted from a string to system date format",
     " <string-expression> ", 1, 1},
    {"str-time", "Returns the time converted from a string to system time format",
     " <string-expression> ", 1, 1},
    {"datetime-str", "Returns the date and time converted from system datetime format to string",
     " <numeric-expression> ", 1, 1},
    {"date-str", "Returns the date converted from system date format to string",
     " <numeric-expression> ", 1, 1},
    {"time-str", "Returns the time converted from system time format to string",
     " <numeric-expression> ", 1, 1},
    {"datetime-str-format",
     "Returns the date and time converted from system datetime format to string using the "
     "<format-string-expression> parameter.  The format accepts the specifiers of the "
     "FormatDateTime routine (for example yyyy-mm-dd hh:nn:ss).",
     " <numeric-expression> <format-string-expression>", 1, 2},
}};

constexpr std::array<TVariantFunction::TSpec, 5> PrettyPrintSpecs = {{
    {"ppdeffacts",
     "Displays a formatted representation of the fact set specified by the name, which is "
     "suitable for parsing",
     " <fact-set-name>", 1, 1},
    {"ppdeffunction",
     "Displays a formatted representation of the function specified by the name, which is "
     "suitable for parsing",
     " <function-name>", 1, 1},
    {"ppdeftemplate",
     "Displays a formatted representation of the fact template specified by the name, which is "
     "suitable for parsing",
     " <fact-template-name>", 1, 1},
    {"ppdefrule",
     "Displays a formatted representation of the rule specified by the name, which is suitable "
     "for parsing",
     " <rulename>", 1, 1},
    {"ppdeftype",
     "Displays a formatted representation of the defined type specified by the name, which is "
     "suitable for parsing",
     " <type-name>", 1, 1},
}};

} // namespace

// ---------------------------------------------------------------------------------------------
// Variant classes

TDecodeDateTimeFunction::TDecodeDateTimeFunction() : TVariantFunction(DecodeSpecs) {}
TEncodeDateTimeFunction::TEncodeDateTimeFunction() : TVariantFunction(EncodeSpecs) {}
TSystemDateTimeFunction::TSystemDateTimeFunction() : TVariantFunction(SystemDateTimeSpecs) {}
TDateTimeStringFunction::TDateTimeStringFunction() : TVariantFunction(DateTimeStringSpecs) {}
TPrettyPrintFunction::TPrettyPrintFunction() : TVariantFunction(PrettyPrintSpecs) {}

IE_VARIANT_SELECTOR_NAMES(TDecodeDateTimeFunction, "ddtYear", "ddtMonth", "ddtDay", "ddtHour",
                          "ddtMinute", "ddtSecond", "ddtMillisecond")
IE_VARIANT_SELECTOR_NAMES(TEncodeDateTimeFunction, "edtDate", "edtTime")
IE_VARIANT_SELECTOR_NAMES(TSystemDateTimeFunction, "sdtDateTime", "sdtDate", "sdtTime")
IE_VARIANT_SELECTOR_NAMES(TDateTimeStringFunction, "dtsStrDateTime", "dtsStrDate", "dtsStrTime",
                          "dtsDateTimeStr", "dtsDateStr", "dtsTimeStr", "dtsDateTimeStrFormat")
IE_VARIANT_SELECTOR_NAMES(TPrettyPrintFunction, "ppfFactSet", "ppfUserFunction", "ppfFactTemplate",
                          "ppfRule", "ppfDefType")

// ---------------------------------------------------------------------------------------------
// Dates and times

TRefPtr<IIEValue> TDecodeDateTimeFunction::Execute(IFunCall* call, TIEContext* context) {
    const TDateTime value = EvalArg(call, 0, context)->GetAsNumeric();
    int year, month, day, hour, minute, second, msec;
    // The platform's decoding rounds to whole milliseconds first, so an encoded time decodes to
    // the fields it was made from (no 59.999 seconds for a minute).
    DecodeDateTime(value, year, month, day, hour, minute, second, msec);
    // In the order of TDecodeDateTimeFunctionType.
    const int parts[] = {year, month, day, hour, minute, second, msec};
    return TIEValue::CreateInteger(dtInteger, parts[Decode()]);
}

TRefPtr<IIEValue> TEncodeDateTimeFunction::Execute(IFunCall* call, TIEContext* context) {
    const int32_t n = call->ArgumentCount();
    auto part = [&](int32_t index, int fallback) {
        return index < n ? EvalArg(call, index, context)->AsInteger() : fallback;
    };
    if (Encode() == edtDate) {
        const int year = part(0, 1);
        const int month = part(1, 1);
        const int day = part(2, 1);
        return TIEValue::CreateFloat(EncodeDate(year, month, day));
    }
    const int hour = part(0, 0);
    const int minute = part(1, 0);
    const int second = part(2, 0);
    const int msec = part(3, 0);
    return TIEValue::CreateFloat(EncodeTime(hour, minute, second, msec));
}

TRefPtr<IIEValue> TSystemDateTimeFunction::Execute(IFunCall*, TIEContext*) {
    switch (DateTimeType()) {
    case sdtDate:
        return TIEValue::CreateFloat(Date());
    case sdtTime:
        return TIEValue::CreateFloat(Time());
    case sdtDateTime:
        break;
    }
    return TIEValue::CreateFloat(Now());
}

TRefPtr<IIEValue> TDateTimeStringFunction::Execute(IFunCall* call, TIEContext* context) {
    const TRefPtr<IIEValue> arg = EvalArg(call, 0, context);
    switch (Conversion()) {
    case dtsStrDateTime:
        return TIEValue::CreateFloat(StrToDateTime(arg->AsString()));
    case dtsStrDate:
        return TIEValue::CreateFloat(StrToDate(arg->AsString()));
    case dtsStrTime:
        return TIEValue::CreateFloat(StrToTime(arg->AsString()));
    case dtsDateTimeStr:
        return StringValue(DateTimeToStr(arg->GetAsNumeric()));
    case dtsDateStr:
        return StringValue(DateToStr(arg->GetAsNumeric()));
    case dtsTimeStr:
        return StringValue(TimeToStr(arg->GetAsNumeric()));
    case dtsDateTimeStrFormat:
        break;
    }
    const TDateTime value = arg->GetAsNumeric();
    // Without a format the platform writes its default short date and long time form.
    const std::string format =
        call->ArgumentCount() > 1 ? StripQuotes(EvalArg(call, 1, context)->AsString()) : "";
    return StringValue(FormatDateTime(format, value));
}

TTimeFunction::TTimeFunction()
    : TBuiltInFunction("time", "Returns the time in seconds since the beginning of the day", "", 0,
                       0) {}

TRefPtr<IIEValue> TTimeFunction::Execute(IFunCall*, TIEContext*) {
    return TIEValue::CreateFloat(Time() * SecsPerDay);
}

// ---------------------------------------------------------------------------------------------
// Dialogs

namespace {
constexpr std::string_view InputArguments =
    " [<caption-string> [<prompt-string> [<default-string>]]]";
constexpr std::string_view InputHelp =
    "Displays an input dialog box that enables the user to enter a string";
} // namespace

TInputBoxFunction::TInputBoxFunction()
    : TBuiltInFunction("input-box", InputHelp, InputArguments, 0, 3) {}

TRefPtr<IIEValue> TInputBoxFunction::Execute(IFunCall* call, TIEContext* context) {
    const std::string caption = OptionalText(call, context, 0);
    const std::string prompt = OptionalText(call, context, 1);
    const std::string defaultText = OptionalText(call, context, 2);
    return StringValue(GetDialogService().InputBox(caption, prompt, defaultText));
}

TInputQueryFunction::TInputQueryFunction()
    : TBuiltInFunction("input-query", InputHelp, InputArguments, 0, 3) {}

TRefPtr<IIEValue> TInputQueryFunction::Execute(IFunCall* call, TIEContext* context) {
    const std::string caption = OptionalText(call, context, 0);
    const std::string prompt = OptionalText(call, context, 1);
    std::string value = OptionalText(call, context, 2);
    if (!GetDialogService().InputQuery(caption, prompt, value)) return IEFalseValue();
    return StringValue(value);
}

TMessageDlgFunction::TMessageDlgFunction()
    : TBuiltInFunction(
          "message-dlg",
          "Displays a message box and returns a string value of the button the user selected.",
          " <string-expression> mtWarning|mtError|mtInformation|mtConfirmation|mtCustom "
          "<string-set-expression> [<integer-expression>]",
          2, 4) {}

TRefPtr<IIEValue> TMessageDlgFunction::Execute(IFunCall* call, TIEContext* context) {
    const std::string text = EvalArg(call, 0, context)->AsString();
    const std::string typeName = EvalArg(call, 1, context)->AsString();
    // A name that is no dialog type or button is refused before any dialog opens.
    TMsgDlgType type;
    if (!TryStrToMsgDlgType(typeName, type)) RaiseIE(imBadArgument, typeName);
    TMsgDlgButtons buttons;
    if (call->ArgumentCount() > 2) {
        const std::string set = EvalArg(call, 2, context)->AsString();
        if (!TryStrToMsgDlgButtons(set, buttons)) RaiseIE(imBadArgument, set);
    }
    const int helpContext = call->ArgumentCount() > 3 ? EvalArg(call, 3, context)->AsInteger() : 0;
    const TModalResult result = GetDialogService().MessageDlg(text, type, buttons, helpContext);
    return TIEValue::CreateText(dtAtom, ModalResultName(result));
}

TShowMessageFunction::TShowMessageFunction()
    : TBuiltInFunction("show-message", "Displays a message box with an OK button",
                       " <string-expression> ", 1, 1) {}

TRefPtr<IIEValue> TShowMessageFunction::Execute(IFunCall* call, TIEContext* context) {
    GetDialogService().ShowMessage(EvalArg(call, 0, context)->AsString());
    return IETrueValue();
}

// ---------------------------------------------------------------------------------------------
// Listings

namespace {

// "Print": the engine's print-out to "t" (the empty name).
void Print(TInferenceEngine& engine, const std::string& text) {
    engine.PrintOut("", text);
}

void SortLines(std::vector<std::string>& lines) {
    std::stable_sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
        return CompareLocaleIgnoreCase(a, b) < 0;
    });
}

template <class Table> std::vector<std::string> KeysOf(const Table& table) {
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(table.Count()));
    for (const auto& entry : table)
        names.push_back(entry.Key());
    return names;
}

std::string ListingText(std::vector<std::string>& lines, std::string_view total,
                        std::string_view suffix) {
    SortLines(lines);
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += IELineEnd;
    }
    text += total;
    text += std::to_string(lines.size());
    text += suffix;
    return text;
}

TRefPtr<IIEValue> PrintNames(TIEContext* context,
                             std::vector<std::string> (*collect)(TInferenceEngine&),
                             std::string_view suffix) {
    TInferenceEngine& engine = EngineOf(context);
    std::vector<std::string> names = collect(engine);
    Print(engine, NameListingText(names, suffix));
    return IEEmptyAtom();
}

} // namespace

std::string NameListingText(std::vector<std::string>& names, std::string_view suffix) {
    return ListingText(names, "for a total of ", suffix);
}

TListRulesFunction::TListRulesFunction()
    : TBuiltInFunction("list-defrules", "Displays the rules defined in the inference engine", "", 0,
                       0) {}

TRefPtr<IIEValue> TListRulesFunction::Execute(IFunCall*, TIEContext* context) {
    return PrintNames(
        context, [](TInferenceEngine& e) { return KeysOf(e.Rules()); }, " rules.");
}

TListDefTypesFunction::TListDefTypesFunction()
    : TBuiltInFunction("list-deftypes",
                       "Displays the defined types contained in the inference engine", "", 0, 0) {}

TRefPtr<IIEValue> TListDefTypesFunction::Execute(IFunCall*, TIEContext* context) {
    return PrintNames(
        context, [](TInferenceEngine& e) { return KeysOf(e.DefinedTypes()); }, " deftypes.");
}

TListFactSetsFunction::TListFactSetsFunction()
    : TBuiltInFunction("list-deffacts", "Displays the fact sets defined in the inference engine",
                       "", 0, 0) {}

TRefPtr<IIEValue> TListFactSetsFunction::Execute(IFunCall*, TIEContext* context) {
    return PrintNames(
        context,
        [](TInferenceEngine& e) {
            std::vector<std::string> names;
            for (const TFactSet* factSet : e.FactSets().Items())
                if (factSet) names.push_back(factSet->FactSetName());
            return names;
        },
        " deffacts.");
}

TListFunctionsFunction::TListFunctionsFunction()
    : TBuiltInFunction("list-deffunctions",
                       "Displays the functions available in the inference engine.", "", 0, 1) {}

// The one permitted argument is accepted and ignored.
TRefPtr<IIEValue> TListFunctionsFunction::Execute(IFunCall*, TIEContext* context) {
    return PrintNames(
        context, [](TInferenceEngine& e) { return KeysOf(e.UserFunctions()); }, " deffunctions.");
}

TListTemplatesFunction::TListTemplatesFunction()
    : TBuiltInFunction("list-deftemplates",
                       "Displays the fact templates defined in the inference engine", "", 0, 0) {}

TRefPtr<IIEValue> TListTemplatesFunction::Execute(IFunCall*, TIEContext* context) {
    return PrintNames(
        context, [](TInferenceEngine& e) { return KeysOf(e.FactTemplates()); }, " deftemplates.");
}

TAgendaFunction::TAgendaFunction()
    : TBuiltInFunction("agenda", "Displays the rule activations on the agenda", "", 0, 0) {}

TRefPtr<IIEValue> TAgendaFunction::Execute(IFunCall*, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    std::string text = engine.Agenda().GetText();
    text += "for a total of ";
    text += std::to_string(engine.Agenda().Count());
    text += " activations.";
    Print(engine, text);
    return IEEmptyAtom();
}

TShowFactsFunction::TShowFactsFunction()
    : TBuiltInFunction(
          "facts", "Displays the facts in the fact list.",
          " [<start-integer-expression> [<end-integer-expression> [<max-integer-expression>]]]", 0,
          3) {}

TRefPtr<IIEValue> TShowFactsFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const int32_t n = call->ArgumentCount();
    std::vector<std::string> lines;
    if (n == 0) {
        // One entry per fact: a string value may hold line ends of its own.
        for (const TRefPtr<IFact>& fact : engine.Facts().Items())
            lines.push_back(fact->GetText());
    } else {
        const int32_t start = EvalArg(call, 0, context)->AsInteger();
        int32_t end = 2147483647;
        int64_t max = engine.Facts().Count();
        if (n > 1) end = EvalArg(call, 1, context)->AsInteger();
        if (n > 2) max = EvalArg(call, 2, context)->AsInteger();
        // Labels carry the plain identifier (f-10, not f-010): the listing is sorted as text, in
        // which f-10 comes before f-2.
        for (const TRefPtr<IFact>& fact : engine.Facts().Items()) {
            if (static_cast<int64_t>(lines.size()) >= max) break;
            const int32_t id = fact->GetFactId();
            if (id < start || id > end) continue;
            lines.push_back("f-" + std::to_string(id) + " " + fact->GetText());
        }
    }
    Print(engine, ListingText(lines, "For a total of ", " facts."));
    return IETrueValue();
}

// ---------------------------------------------------------------------------------------------
// Settings

TGetDynamicCheckFunction::TGetDynamicCheckFunction()
    : TBuiltInFunction("get-dynamic-constraint-checking",
                       "Returns the current value of the dynamic constraint checking behavior", "",
                       0, 0) {}

TRefPtr<IIEValue> TGetDynamicCheckFunction::Execute(IFunCall*, TIEContext* context) {
    return IEBoolValue(EngineOf(context).TypeChecks().Contains(tcDynamic));
}

TGetStaticCheckFunction::TGetStaticCheckFunction()
    : TBuiltInFunction("get-static-constraint-checking",
                       "Returns the current value of the static constraint checking behavior", "",
                       0, 0) {}

TRefPtr<IIEValue> TGetStaticCheckFunction::Execute(IFunCall*, TIEContext* context) {
    return IEBoolValue(EngineOf(context).TypeChecks().Contains(tcStatic));
}

namespace {
// The previous state; the check is on exactly when the argument is the atom TRUE.
TRefPtr<IIEValue> SetTypeCheck(IFunCall* call, TIEContext* context, TTypeCheck check) {
    TInferenceEngine& engine = EngineOf(context);
    const bool on = EvalArg(call, 0, context)->Equals(IETrueValue().get());
    TTypeChecks checks = engine.TypeChecks();
    const bool previous = checks.Contains(check);
    if (on)
        checks.Include(check);
    else
        checks.Exclude(check);
    engine.SetTypeChecks(checks);
    return IEBoolValue(previous);
}
} // namespace

TSetDynamicCheckFunction::TSetDynamicCheckFunction()
    : TBuiltInFunction("set-dynamic-constraint-checking",
                       "Sets the dynamic constraint checking behavior.", " <boolean-expression>", 1,
                       1) {}

TRefPtr<IIEValue> TSetDynamicCheckFunction::Execute(IFunCall* call, TIEContext* context) {
    return SetTypeCheck(call, context, tcDynamic);
}

TSetStaticCheckFunction::TSetStaticCheckFunction()
    : TBuiltInFunction("set-static-constraint-checking",
                       "Sets the static constraint checking behavior.", " <boolean-expression>", 1,
                       1) {}

TRefPtr<IIEValue> TSetStaticCheckFunction::Execute(IFunCall* call, TIEContext* context) {
    return SetTypeCheck(call, context, tcStatic);
}

TResetGlobalsFunction::TResetGlobalsFunction()
    : TBuiltInFunction("set-reset-globals",
                       "Sets and displays the ResetGlobals property of the inference engine",
                       " [<boolean-expression>]", 0, 1) {}

TRefPtr<IIEValue> TResetGlobalsFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    if (call->ArgumentCount() == 0) return IEBoolValue(engine.ResetGlobals());
    TRefPtr<IIEValue> value = EvalArg(call, 0, context);
    engine.SetResetGlobals(value->Equals(IETrueValue().get()));
    return value;
}

TSetGenFunction::TSetGenFunction()
    : TBuiltInFunction("setgen", "Sets the sequence index used by the gensym and gensym* functions",
                       " <integer-expression>", 1, 1) {}

TRefPtr<IIEValue> TSetGenFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    engine.SetSymbolIndex(EvalArg(call, 0, context)->AsInteger());
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// parse and guard

TIEParseFunction::TIEParseFunction()
    : TBuiltInFunction("parse", "Parses and executes the string parameter.", "<string-expression>",
                       1, 1) {}

TRefPtr<IIEValue> TIEParseFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const std::string text = EvalArg(call, 0, context)->AsString();
    // A text that fails to read or to run is an answer (FALSE), never an error of the caller.
    try {
        engine.ExecuteCommand(text, true);
    } catch (const std::exception&) {
        return IEFalseValue();
    }
    return IETrueValue();
}

TGuardFunction::TGuardFunction()
    : TBuiltInFunction("guard",
                       "Evaluates its function call arguments while the activation of the rule "
                       "that calls it is suppressed: facts they assert or modify do not "
                       "activate that rule again.  Returns the value of the last argument",
                       "<function-call-argument>+", 1, AnyArgumentCount) {}

TRefPtr<IIEValue> TGuardFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    TActivation* firing = engine.FiringActivation();
    TRule* rule = firing ? firing->Rule() : nullptr;
    // Restores the rule's flag however the arguments end.
    const bool enabled = rule ? rule->Enabled() : true;
    const TOnExit restore([rule, enabled] {
        if (rule) rule->SetEnabled(enabled);
    });
    if (rule) rule->SetEnabled(false);
    TRefPtr<IIEValue> result;
    for (int32_t i = 0; i < call->ArgumentCount(); ++i)
        result = EvalArg(call, i, context);
    return result;
}

// ---------------------------------------------------------------------------------------------
// Pretty-printing and undefining

namespace {

// The engine's fact set of that name (case-sensitive), null when absent.
TFactSet* FindFactSet(TInferenceEngine& engine, std::string_view name) {
    for (TFactSet* factSet : engine.FactSets().Items())
        if (factSet && factSet->FactSetName() == name) return factSet;
    return nullptr;
}

// The engine's writer of construct texts.
TIEParser& WriterOf(TInferenceEngine& engine) {
    TIEParser* parser = engine.Parser();
    if (!parser) RaiseIE(imFunctionUnimplemented, "parser");
    return *parser;
}

} // namespace

TRefPtr<IIEValue> TPrettyPrintFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const std::string name = EvalArg(call, 0, context)->AsString();
    std::string text;
    switch (PrettyPrint()) {
    case ppfUserFunction: {
        const TRefPtr<IUserFunction> f = engine.UserFunctions().Find(name);
        if (!f) RaiseIE(imUnknownName, "user function", name);
        // A deffunction is written as its definition, any other function as its help.
        if (auto* deffunction = dynamic_cast<const TInterpretedFunction*>(f.get()))
            text = WriterOf(engine).FormatDeffunction(*deffunction);
        else
            text = f->GetText(&engine);
        break;
    }
    case ppfFactTemplate: {
        const TRefPtr<IFactTemplate> t = engine.FactTemplates().Find(name);
        if (!t) RaiseIE(imUnknownName, "fact template", name);
        text = t->GetText();
        break;
    }
    case ppfDefType: {
        const TRefPtr<IIEDefinedType> t = engine.DefinedTypes().Find(name);
        if (!t) RaiseIE(imUnknownName, "defined type", name);
        text = engine.DefinedTypeText(*t);
        break;
    }
    case ppfRule: {
        const TRule* rule = engine.Rules().Find(name);
        if (!rule) RaiseIE(imUnknownName, "rule", name);
        text = WriterOf(engine).FormatRule(*rule);
        break;
    }
    case ppfFactSet: {
        const TFactSet* factSet = FindFactSet(engine, name);
        if (!factSet) RaiseIE(imUnknownName, "fact set", name);
        text = factSet->GetText();
        break;
    }
    }
    return TIEValue::CreateText(dtAtom, text);
}

TShowRulesFunction::TShowRulesFunction()
    : TBuiltInFunction("rules", "Displays the rules in the rule base.", "[<logical-name>]", 0, 1) {}

TRefPtr<IIEValue> TShowRulesFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const std::string output = OptionalText(call, context, 0);
    TIEParser& writer = WriterOf(engine);
    int32_t count = 0;
    for (const auto& entry : engine.Rules()) {
        engine.PrintOut(output, writer.FormatRule(*static_cast<const TRule*>(entry.Value())));
        ++count;
    }
    engine.PrintOut(output, "For a total of " + std::to_string(count) + " rules.");
    return IETrueValue();
}

TUnDefRuleFunction::TUnDefRuleFunction()
    : TBuiltInFunction("undefrule", "Deletes the specified rule from the rule base", " <rule-name>",
                       1, 1) {}

TRefPtr<IIEValue> TUnDefRuleFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const std::string name = EvalArg(call, 0, context)->AsString();
    if (!engine.Rules().Find(name)) return IEFalseValue();
    engine.Rules().RemoveRule(name);
    return IETrueValue();
}

TUnDefTemplateFunction::TUnDefTemplateFunction()
    : TBuiltInFunction("undeftemplate",
                       "Deletes the specified fact template (and dependent facts and rules) from "
                       "the inference engine",
                       " <fact-template-name>", 1, 1) {}

TRefPtr<IIEValue> TUnDefTemplateFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const std::string name = EvalArg(call, 0, context)->AsString();
    if (!engine.FactTemplates().Find(name)) return IEFalseValue();
    engine.FactTemplates().RemoveTemplate(name);
    return IETrueValue();
}

TUnDefTypeFunction::TUnDefTypeFunction()
    : TBuiltInFunction("undeftype",
                       "Deletes the specified defined type (and dependent fact templates, facts "
                       "and rules) from the inference engine",
                       "<defined-type-name-expression>", 1, 1) {}

TRefPtr<IIEValue> TUnDefTypeFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const std::string name = EvalArg(call, 0, context)->AsString();
    if (!engine.DefinedTypes().Find(name)) return IEFalseValue();
    engine.DefinedTypes().RemoveType(name);
    return IETrueValue();
}

TUnDefFactsFunction::TUnDefFactsFunction()
    : TBuiltInFunction("undeffacts", "Deletes the specified fact set from the inference engine",
                       " <fact-set-name>", 1, 1) {}

TRefPtr<IIEValue> TUnDefFactsFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const std::string name = EvalArg(call, 0, context)->AsString();
    TFactSet* factSet = FindFactSet(engine, name);
    if (!factSet) return IEFalseValue();
    // A reset may be asserting this very set.
    engine.CheckChangeAllowed("Removing a fact set");
    // Leaving the engine takes the set out of its fact-set table; a set the engine made (from a
    // deffacts) has no other owner and goes with it.
    factSet->SetEngine(nullptr);
    if (factSet->Owner() == &engine) factSet->Free();
    return IETrueValue();
}

TUnDefFunctionFunction::TUnDefFunctionFunction()
    : TBuiltInFunction("undeffunction", "Deletes the specified function from the inference engine",
                       " <function-name>", 1, 1) {}

// Calls bound to the removed function before keep it alive and go on calling it; calls bound
// afterwards no longer find the name.
TRefPtr<IIEValue> TUnDefFunctionFunction::Execute(IFunCall* call, TIEContext* context) {
    TInferenceEngine& engine = EngineOf(context);
    const std::string name = EvalArg(call, 0, context)->AsString();
    TRefPtr<IUserFunction> function = engine.UserFunctions().Find(name);
    if (!function) return IEFalseValue();
    if (call->GetFunction() == function) call->SetFunction(nullptr);
    engine.UserFunctions().RemoveFunction(name);
    return IETrueValue();
}

// ---------------------------------------------------------------------------------------------
// The package

namespace {

// The function classes of the package, in the order of its functions.
using TMiscFunctionClasses = TFunctionClasses<
    TDecodeDateTimeFunction, TEncodeDateTimeFunction, TSystemDateTimeFunction,
    TDateTimeStringFunction, TGuardFunction, TIEParseFunction, TTimeFunction, TAgendaFunction,
    TGetDynamicCheckFunction, TGetStaticCheckFunction, TInputBoxFunction, TInputQueryFunction,
    TMessageDlgFunction, TShowMessageFunction, TListRulesFunction, TListDefTypesFunction,
    TListFactSetsFunction, TListFunctionsFunction, TListTemplatesFunction, TPrettyPrintFunction,
    TResetGlobalsFunction, TSetGenFunction, TSetDynamicCheckFunction, TSetStaticCheckFunction,
    TShowFactsFunction, TShowRulesFunction, TUnDefFactsFunction, TUnDefFunctionFunction,
    TUnDefRuleFunction, TUnDefTemplateFunction, TUnDefTypeFunction>;

} // namespace

void TMiscPackage::DoCreateFunctions() {
    TUserPackage::DoCreateFunctions();
    TMiscFunctionClasses::AddTo(Functions());
}

void RegisterMiscFunctionClasses() {
    TMiscFunctionClasses::Register();
}

void RegisterMiscPackage() {
    RegisterPackage<TMiscPackage, TMiscFunctionClasses>(pMiscellaneous);
}

namespace {
// Engines create the package and stored functions find their classes from start-up on.
const bool MiscPackageRegistered = (RegisterMiscPackage(), true);
} // namespace

} // namespace ie
