// Copying an engine into another. Type checks are off while the copy is made: a template's
// defaults and a rule's tests were checked in the source, and a check here could refuse a
// construct whose type arrives later in the copy.
//
// Invariant: the engine's type checks are its source's again however the copy ends.
#include "engine/EngineCopy.h"

#include <algorithm>
#include <typeinfo>
#include <vector>

#include "engine/InferenceEngine.h"
#include "engine/model/IEInterpretedFunction.h"
#include "engine/model/IEPackages.h"
#include "platform/Restore.h"

namespace ie {

void TEngineCopy::AssignReader(TInferenceEngine& src) {
    TInferenceEngine& e = FEngine;
    // The source's classes make this engine's parser and streams from now on; the parser
    // object itself is kept when the class is the same, so the host's parse events stay.
    e.FStreamFactory = src.FStreamFactory;
    e.FDefaultStreamFactory = src.FDefaultStreamFactory;
    const TIEParser& mine = *e.FParser;
    const TIEParser& theirs = *src.FParser;
    if (typeid(mine) != typeid(theirs)) {
        e.FParserFactory = src.FParserFactory;
        std::unique_ptr<TIEParser> parser = e.NewParser();
        parser->OnParse = e.FParser->OnParse;
        parser->OnParseFunCall = e.FParser->OnParseFunCall;
        parser->OnParseVariable = e.FParser->OnParseVariable;
        e.FParser = std::move(parser);
    }
    e.FParser->TemplatesMustExist = src.FParser->TemplatesMustExist;
}

void TEngineCopy::Assign(TInferenceEngine& src) {
    TInferenceEngine& e = FEngine;
    e.Clear();
    AssignReader(src);
    const TTypeChecks checks = src.FTypeChecks;
    e.SetTypeChecks(TTypeChecks{});
    const TOnExit restoreChecks([&e, checks] { e.SetTypeChecks(checks); });
    e.FRun->AdoptStrategy(src.Strategy());
    e.SetFactDuplication(src.FactDuplication());
    e.FDuplicateConstructs = src.FDuplicateConstructs;
    e.SetParserMaxErrors(src.FParserMaxErrors);
    e.SetParserErrorHandling(src.FParserErrorHandling);
    e.FWatch = src.FWatch;
    e.FResetGlobals = src.FResetGlobals;
    // First pass over the functions, tolerant: a deffunction may need templates not yet here.
    const int32_t templates = e.FFactTemplates->Count();
    bool failed = !e.AssignUserFunctions(src, true);
    if (e.FFactTemplates->Count() != templates) failed = true;
    e.FFuzzyAutoTerms = src.FFuzzyAutoTerms;
    e.SetFuzzyEqualsThreshold(src.FFuzzyEqualsThreshold);
    e.SetFuzzyCorrelationMethod(src.FuzzyCorrelationMethod());
    e.SetFuzzyInferenceMethod(src.FuzzyInferenceMethod());
    e.SetMinActivationStrength(src.FMinActivationStrength);
    e.FDefinedTypes->Assign(*src.FDefinedTypes);
    e.FFactTemplates->Assign(*src.FFactTemplates);
    if (failed) e.AssignUserFunctions(src, false);
    e.FGlobalVariables->Assign(*src.FGlobalVariables);
    e.FFactSets->Assign(*src.FFactSets);
    e.Facts().Assign(src.Facts());
    e.FRules->Assign(*src.FRules);
}

bool TEngineCopy::AssignUserFunctions(TInferenceEngine& source, bool tolerant) {
    TUserFunctions& functions = FEngine.UserFunctions();
    functions.Clear();
    std::vector<TInterpretedFunction*> deffunctions;
    for (const auto& entry : source.UserFunctions()) {
        auto* f = dynamic_cast<IUserFunction*>(entry.Intf().get());
        if (!f) continue;
        if (auto* d = dynamic_cast<TInterpretedFunction*>(f))
            deffunctions.push_back(d);
        else
            f->AddReasoner(&FEngine);
    }
    std::sort(deffunctions.begin(), deffunctions.end(),
              [](const TInterpretedFunction* a, const TInterpretedFunction* b) {
                  return a->GetFunctionName() < b->GetFunctionName();
              });
    bool ok = true;
    for (TInterpretedFunction* d : deffunctions) {
        try {
            TRefPtr<IUserFunction> f = FEngine.ParseFunction(FEngine.FormatDeffunction(*d));
            if (f) functions.PutFunction(f->GetFunctionName(), f);
        } catch (const EException&) {
            if (!tolerant) throw;
            ok = false;
        }
    }
    return ok;
}

} // namespace ie
