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
#include <string>
#include <string_view>
#include <vector>

#include "engine/model/IEPackages.h"
#include "packages/FunctionFramework.h"

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

// decode-year ... decode-millisecond
IE_VARIANT_FUNCTION(TDecodeDateTimeFunction, TDecodeDateTimeFunctionType, Decode);

// encode-date, encode-time
IE_VARIANT_FUNCTION(TEncodeDateTimeFunction, TEncodeDateTimeFunctionType, Encode);

// system-datetime, system-date, system-time
IE_VARIANT_FUNCTION(TSystemDateTimeFunction, TSystemDateTimeFunctionType, DateTimeType);

// str-datetime, str-date, str-time, datetime-str, date-str, time-str, datetime-str-format
IE_VARIANT_FUNCTION(TDateTimeStringFunction, TDateTimeStringFunctionType, Conversion);

// ---------------------------------------------------------------------------------------------
// Plain functions: one class per name.

IE_BUILT_IN_FUNCTION(TGuardFunction);           // guard
IE_BUILT_IN_FUNCTION(TIEParseFunction);         // parse
IE_BUILT_IN_FUNCTION(TTimeFunction);            // time
IE_BUILT_IN_FUNCTION(TAgendaFunction);          // agenda
IE_BUILT_IN_FUNCTION(TGetDynamicCheckFunction); // get-dynamic-constraint-checking
IE_BUILT_IN_FUNCTION(TGetStaticCheckFunction);  // get-static-constraint-checking
IE_BUILT_IN_FUNCTION(TInputBoxFunction);        // input-box
IE_BUILT_IN_FUNCTION(TInputQueryFunction);      // input-query
IE_BUILT_IN_FUNCTION(TMessageDlgFunction);      // message-dlg
IE_BUILT_IN_FUNCTION(TShowMessageFunction);     // show-message
IE_BUILT_IN_FUNCTION(TListRulesFunction);       // list-defrules
IE_BUILT_IN_FUNCTION(TListDefTypesFunction);    // list-deftypes
IE_BUILT_IN_FUNCTION(TListFactSetsFunction);    // list-deffacts
IE_BUILT_IN_FUNCTION(TListFunctionsFunction);   // list-deffunctions
IE_BUILT_IN_FUNCTION(TListTemplatesFunction);   // list-deftemplates
IE_BUILT_IN_FUNCTION(TResetGlobalsFunction);    // set-reset-globals
IE_BUILT_IN_FUNCTION(TSetGenFunction);          // setgen
IE_BUILT_IN_FUNCTION(TSetDynamicCheckFunction); // set-dynamic-constraint-checking
IE_BUILT_IN_FUNCTION(TSetStaticCheckFunction);  // set-static-constraint-checking
IE_BUILT_IN_FUNCTION(TShowFactsFunction);       // facts
IE_BUILT_IN_FUNCTION(TShowRulesFunction);       // rules
IE_BUILT_IN_FUNCTION(TUnDefFactsFunction);      // undeffacts
IE_BUILT_IN_FUNCTION(TUnDefFunctionFunction);   // undeffunction
IE_BUILT_IN_FUNCTION(TUnDefRuleFunction);       // undefrule
IE_BUILT_IN_FUNCTION(TUnDefTemplateFunction);   // undeftemplate
IE_BUILT_IN_FUNCTION(TUnDefTypeFunction);       // undeftype

// ppdeffacts, ppdeffunction, ppdeftemplate, ppdefrule, ppdeftype
IE_VARIANT_FUNCTION(TPrettyPrintFunction, TPrettyPrintFunctionType, PrettyPrint);

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
