// The miscellaneous package: dates and times on the platform's date-time encoding (whole days
// since 30 December 1899 plus the fraction of the day), the commands that list, pretty-print
// and remove the engine's constructs, the engine settings, "parse" and "guard", and the simple
// dialogs (through the process-wide dialog service).
//
// Functions keep no engine state: every body reaches the engine through its context. Five
// variant classes serve several names each; their selector always agrees with the name (setting
// either sets the other, with the comment, argument text and counts of that name).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/IEPackages.h"
#include "packages/StandardPackage.h"

namespace ie {

// ---------------------------------------------------------------------------------------------
// Dates and times

enum TDecodeDateTimeFunctionType : uint8_t {
    ddtYear,
    ddtMonth,
    ddtDay,
    ddtHour,
    ddtMinute,
    ddtSecond,
    ddtMillisecond
};
enum TEncodeDateTimeFunctionType : uint8_t { edtDate, edtTime };
enum TSystemDateTimeFunctionType : uint8_t { sdtDateTime, sdtDate, sdtTime };
enum TDateTimeStringFunctionType : uint8_t {
    dtsStrDateTime,
    dtsStrDate,
    dtsStrTime,
    dtsDateTimeStr,
    dtsDateStr,
    dtsTimeStr,
    dtsDateTimeStrFormat
};
enum TPrettyPrintFunctionType : uint8_t {
    ppfFactSet,
    ppfUserFunction,
    ppfFactTemplate,
    ppfRule,
    ppfDefType
};

// A class that serves several names. Setting the name to one of its variants' names selects that
// variant with its comment, argument text and counts (another name changes only the name);
// selecting a variant sets its name as well. A new object is the first variant.
class TVariantFunction : public TBuiltInFunction {
public:
    // What one rule-language name sets on the function object.
    struct TSpec {
        std::string_view Name;
        std::string_view Help;
        std::string_view Arguments;
        int32_t Min;
        int32_t Max;
    };

    void SetFunctionName(std::string_view name) override;

protected:
    explicit TVariantFunction(std::span<const TSpec> variants);
    int Variant() const noexcept { return FVariant; }
    void SelectVariant(int index);

private:
    void ApplyVariant(int index);
    std::span<const TSpec> FVariants;
    int FVariant = 0;
};

// decode-year ... decode-millisecond
class TDecodeDateTimeFunction : public TVariantFunction {
public:
    TDecodeDateTimeFunction();
    std::string_view ClassName() const override { return "TDecodeDateTimeFunction"; }
    TDecodeDateTimeFunctionType Decode() const noexcept {
        return static_cast<TDecodeDateTimeFunctionType>(Variant());
    }
    void SetDecode(TDecodeDateTimeFunctionType value) { SelectVariant(value); }

protected:
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;
};

// encode-date, encode-time
class TEncodeDateTimeFunction : public TVariantFunction {
public:
    TEncodeDateTimeFunction();
    std::string_view ClassName() const override { return "TEncodeDateTimeFunction"; }
    TEncodeDateTimeFunctionType Encode() const noexcept {
        return static_cast<TEncodeDateTimeFunctionType>(Variant());
    }
    void SetEncode(TEncodeDateTimeFunctionType value) { SelectVariant(value); }

protected:
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;
};

// system-datetime, system-date, system-time
class TSystemDateTimeFunction : public TVariantFunction {
public:
    TSystemDateTimeFunction();
    std::string_view ClassName() const override { return "TSystemDateTimeFunction"; }
    TSystemDateTimeFunctionType DateTimeType() const noexcept {
        return static_cast<TSystemDateTimeFunctionType>(Variant());
    }
    void SetDateTimeType(TSystemDateTimeFunctionType value) { SelectVariant(value); }

protected:
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;
};

// str-datetime, str-date, str-time, datetime-str, date-str, time-str, datetime-str-format
class TDateTimeStringFunction : public TVariantFunction {
public:
    TDateTimeStringFunction();
    std::string_view ClassName() const override { return "TDateTimeStringFunction"; }
    TDateTimeStringFunctionType Conversion() const noexcept {
        return static_cast<TDateTimeStringFunctionType>(Variant());
    }
    void SetConversion(TDateTimeStringFunctionType value) { SelectVariant(value); }

protected:
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;
};

// ---------------------------------------------------------------------------------------------
// Plain functions: one class per name.

#define IE_MISC_FUNCTION(Class)                                                                    \
    class Class : public TBuiltInFunction {                                                        \
    public:                                                                                        \
        Class();                                                                                   \
        std::string_view ClassName() const override { return #Class; }                             \
                                                                                                   \
    protected:                                                                                     \
        TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;                   \
    };

IE_MISC_FUNCTION(TGuardFunction)           // guard
IE_MISC_FUNCTION(TIEParseFunction)         // parse
IE_MISC_FUNCTION(TTimeFunction)            // time
IE_MISC_FUNCTION(TAgendaFunction)          // agenda
IE_MISC_FUNCTION(TGetDynamicCheckFunction) // get-dynamic-constraint-checking
IE_MISC_FUNCTION(TGetStaticCheckFunction)  // get-static-constraint-checking
IE_MISC_FUNCTION(TInputBoxFunction)        // input-box
IE_MISC_FUNCTION(TInputQueryFunction)      // input-query
IE_MISC_FUNCTION(TMessageDlgFunction)      // message-dlg
IE_MISC_FUNCTION(TShowMessageFunction)     // show-message
IE_MISC_FUNCTION(TListRulesFunction)       // list-defrules
IE_MISC_FUNCTION(TListDefTypesFunction)    // list-deftypes
IE_MISC_FUNCTION(TListFactSetsFunction)    // list-deffacts
IE_MISC_FUNCTION(TListFunctionsFunction)   // list-deffunctions
IE_MISC_FUNCTION(TListTemplatesFunction)   // list-deftemplates
IE_MISC_FUNCTION(TResetGlobalsFunction)    // set-reset-globals
IE_MISC_FUNCTION(TSetGenFunction)          // setgen
IE_MISC_FUNCTION(TSetDynamicCheckFunction) // set-dynamic-constraint-checking
IE_MISC_FUNCTION(TSetStaticCheckFunction)  // set-static-constraint-checking
IE_MISC_FUNCTION(TShowFactsFunction)       // facts
IE_MISC_FUNCTION(TShowRulesFunction)       // rules
IE_MISC_FUNCTION(TUnDefFactsFunction)      // undeffacts
IE_MISC_FUNCTION(TUnDefFunctionFunction)   // undeffunction
IE_MISC_FUNCTION(TUnDefRuleFunction)       // undefrule
IE_MISC_FUNCTION(TUnDefTemplateFunction)   // undeftemplate
IE_MISC_FUNCTION(TUnDefTypeFunction)       // undeftype

#undef IE_MISC_FUNCTION

// ppdeffacts, ppdeffunction, ppdeftemplate, ppdefrule, ppdeftype
class TPrettyPrintFunction : public TVariantFunction {
public:
    TPrettyPrintFunction();
    std::string_view ClassName() const override { return "TPrettyPrintFunction"; }
    TPrettyPrintFunctionType PrettyPrint() const noexcept {
        return static_cast<TPrettyPrintFunctionType>(Variant());
    }
    void SetPrettyPrint(TPrettyPrintFunctionType value) { SelectVariant(value); }

protected:
    TRefPtr<IIEValue> Execute(IFunCall* call, TIEContext* context) override;
};

// ---------------------------------------------------------------------------------------------

// The 50 functions, in a fixed order (dates and times first).
class TMiscPackage : public TUserPackage {
public:
    using TUserPackage::TUserPackage;
    std::string_view ClassName() const override { return "TMiscPackage"; }

protected:
    void DoCreateFunctions() override;
};

// Registers the function classes of this package with the class registry (done once at
// start-up; calling it again does nothing).
void RegisterMiscFunctionClasses();
// Registers the function classes and the package's factory (pMiscellaneous) with the engine, so
// that engines create the package. Runs at start-up; calling it again does no harm.
void RegisterMiscPackage();

// The listing texts, exposed for the console and tests: each name followed by CR LF, then
// "for a total of <count><suffix>". The names are sorted in place, case-insensitively.
std::string NameListingText(std::vector<std::string>& names, std::string_view suffix);

} // namespace ie
