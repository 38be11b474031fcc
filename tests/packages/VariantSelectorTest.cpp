// The selector of every variant function class is a published enumeration property: each of
// its value names selects the variant of the same position, with that variant's name, argument
// text and counts, and reading it back gives the name that was set.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "packages/FuzzyLogicPackage.h"
#include "packages/MiscPackage.h"
#include "platform/PropertyInfo.h"

namespace ie {
namespace {

template <class T> void ExpectSelectorSelectsEveryVariant() {
    RegisterFuzzyLogicPackage();
    RegisterMiscPackage();
    SCOPED_TRACE(std::string(T::StaticClassName));
    auto function = MakeRef<T>();
    const TPropertyTable* table = GetPropertyTable(function.get());
    ASSERT_NE(table, nullptr);
    const TPropertyInfo* selector = table->Find(T::SelectorName);
    ASSERT_NE(selector, nullptr);
    EXPECT_EQ(selector->Kind, tkEnumeration);
    EXPECT_EQ(selector->TypeName, T::SelectorTypeName);
    const auto specs = function->VariantSpecs();
    ASSERT_EQ(selector->EnumNames.size(), specs.size()) << "one value name per variant";
    EXPECT_EQ(GetEnumProp(*function, *selector), selector->EnumNames[0]) << "starts at the first";
    // Backwards, so that every step changes the selection.
    for (size_t i = specs.size(); i-- > 0;) {
        SetPropText(*function, *selector, selector->EnumNames[i]);
        EXPECT_EQ(GetEnumProp(*function, *selector), selector->EnumNames[i]);
        EXPECT_EQ(function->GetFunctionName(), specs[i].Name);
        EXPECT_EQ(function->GetArgumentString(), specs[i].Arguments);
        EXPECT_EQ(function->GetMinArgumentCount(), specs[i].Min);
    }
    // Naming the function selects its variant too.
    function->SetFunctionName(specs[specs.size() - 1].Name);
    EXPECT_EQ(GetEnumProp(*function, *selector), selector->EnumNames[specs.size() - 1]);
    EXPECT_THROW(SetPropText(*function, *selector, "noSuchValue"), EPropertyConvertError);
}

TEST(VariantSelector, FuzzyLogicClasses) {
    ExpectSelectorSelectsEveryVariant<TFuzzyAssertFunction>();
    ExpectSelectorSelectsEveryVariant<TFuzzyOperationFunction>();
    ExpectSelectorSelectsEveryVariant<TGetFuzzyFunction>();
    ExpectSelectorSelectsEveryVariant<TRWActivationThresholdFunction>();
    ExpectSelectorSelectsEveryVariant<TRWFuzzyAutoTerms>();
    ExpectSelectorSelectsEveryVariant<TRWFuzzyCorrelationFunction>();
    ExpectSelectorSelectsEveryVariant<TRWFuzzyInferenceFunction>();
    ExpectSelectorSelectsEveryVariant<TRWFuzzyThresholdFunction>();
    ExpectSelectorSelectsEveryVariant<TUniverseOfDiscourseFunction>();
    ExpectSelectorSelectsEveryVariant<TDefuzzifyFunction>();
    ExpectSelectorSelectsEveryVariant<TCreateFuzzyShapeFunction>();
}

TEST(VariantSelector, MiscellaneousClasses) {
    ExpectSelectorSelectsEveryVariant<TDecodeDateTimeFunction>();
    ExpectSelectorSelectsEveryVariant<TEncodeDateTimeFunction>();
    ExpectSelectorSelectsEveryVariant<TSystemDateTimeFunction>();
    ExpectSelectorSelectsEveryVariant<TDateTimeStringFunction>();
    ExpectSelectorSelectsEveryVariant<TPrettyPrintFunction>();
}

} // namespace
} // namespace ie
