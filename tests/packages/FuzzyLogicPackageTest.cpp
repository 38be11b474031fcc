// The fuzzy logic package in an engine: shapes, union and intersection, set readers, the
// engine's fuzzy settings, the universe of a fuzzy type, defuzzifying, asserting and plotting.
// Expected grades are worked out from the shapes' formulas, not read back from the library.
#include "packages/FuzzyLogicPackage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>

#include "engine/InferenceEngine.h"
#include "engine/model/IEDefinedType.h"
#include "engine/model/IEFuzzyLogic.h"
#include "engine/model/IEValue.h"
#include "platform/Format.h"
#include "tests/support/IETestValues.h"

using namespace ie;
using namespace ie::test;

namespace {

class FuzzyLogicPackageTest : public ::testing::Test {
protected:
    FuzzyLogicPackageTest() : Engine(new TInferenceEngine(nullptr)) {
        Engine->OnPrintOut = [this](TInferenceEngine*, const std::string& name,
                                    const std::string& text) {
            PrintedTo = name;
            Printed += text;
        };
        // The type temp over 0..100 C with the terms cold (falling to 0 at 50) and hot (rising
        // from 50); no automatic terms.
        Engine->SetFuzzyAutoTerms(false);
        Temp = NewIEFuzzyVariable("temp");
        Temp->SetMaximum(100);
        Temp->SetMinimum(0);
        Temp->SetUnits("C");
        Temp->CreateSet("cold")->Triangle(0, 0, 50);
        Temp->CreateSet("hot")->Triangle(50, 100, 100);
        TRefPtr<TIEDefinedType> type = TIEDefinedType::Create(Engine);
        type->SetName("temp");
        type->SetFuzzyVariable(Temp);
        Engine->DefinedTypes().PutType("temp", TRefPtr<IIEDefinedType>(type.get()));
        Engine->SetFuzzyAutoTerms(true);
    }
    ~FuzzyLogicPackageTest() override { Engine->Free(); }

    // A call of `name` whose arguments are calls or values; a string argument is read as the
    // call it spells when it begins with "(".
    TRefPtr<IIEValue> Call(std::string_view name,
                           std::initializer_list<TRefPtr<IIEValue>> args = {}) {
        return CallFunction(*Engine, name, args);
    }
    // A nested call value, e.g. Nested("tri", {0, 5, 10}).
    TRefPtr<IIEValue> Nested(std::string_view name, std::initializer_list<double> numbers) {
        TRefPtr<IFunCall> call = Engine->CreateFunCall(name);
        for (double d : numbers)
            call->AddArgument(d == std::floor(d) ? Int(static_cast<int32_t>(d)) : Flt(d));
        return TIEValue::CreateFunCall(call);
    }
    std::string ErrorOf(std::string_view name, std::initializer_list<TRefPtr<IIEValue>> args) {
        return CallError(*Engine, name, args);
    }
    double Grade(const TRefPtr<IIEValue>& set, double x) {
        return Call("get-fs-value", {set, Flt(x)})->AsFloat();
    }
    // An ordered fact (name 1) asserted; its identifier.
    int32_t AssertOrdered(std::string_view name) {
        TRefPtr<IFact> fact = Engine->ImpliedTemplate(name)->NewFact();
        auto list = TValueVector::Create();
        list->Add(Int(1));
        fact->SetSlotValue(DataSlotName, TIEValue::CreateList(list));
        return Engine->AssertFact(fact);
    }

    TInferenceEngine* Engine;
    TRefPtr<IFuzzyVariable> Temp;
    std::string Printed, PrintedTo;
};

// The grade of a triangle at x, from its definition.
double Tri(double a, double b, double c, double x) {
    if (x <= a || x >= c) return x == b ? 1.0 : 0.0;
    return x <= b ? (x - a) / (b - a) : (c - x) / (c - b);
}

} // namespace

TEST_F(FuzzyLogicPackageTest, AllThirtySevenNamesAreRegistered) {
    const char* names[] = {"create-fuzzy-value",
                           "fuzzy-assert",
                           "fuzzy-assert-unconditional",
                           "fuzzy-union",
                           "fuzzy-union-x",
                           "fuzzy-intersection",
                           "fuzzy-intersection-x",
                           "get-fs",
                           "get-fs-length",
                           "get-fs-x",
                           "get-fs-y",
                           "get-fs-variable",
                           "get-fs-value",
                           "get-activation-threshold",
                           "set-activation-threshold",
                           "get-fuzzy-auto-terms",
                           "set-fuzzy-auto-terms",
                           "get-fuzzy-correlation",
                           "set-fuzzy-correlation",
                           "get-fuzzy-inference",
                           "set-fuzzy-inference",
                           "get-fuzzy-threshold",
                           "set-fuzzy-threshold",
                           "get-u",
                           "get-u-from",
                           "get-u-to",
                           "get-u-units",
                           "moment-defuzzify",
                           "maximum-defuzzify",
                           "is-undecidable",
                           "get-compatibility-index",
                           "plot-fuzzy-value",
                           "s",
                           "z",
                           "pi",
                           "tri",
                           "beta"};
    EXPECT_EQ(std::size(names), 37u);
    for (const char* name : names) {
        const TRefPtr<IUserFunction> f = Engine->FindUserFunction(name);
        ASSERT_TRUE(f) << name;
        EXPECT_EQ(f->GetFunctionName(), name);
    }
    const TRefPtr<IUserFunction> x = Engine->FindUserFunction("get-fs-x");
    EXPECT_EQ(x->GetArgumentString(), " <fact-expression> | <fact-id-expression> | "
                                      "<fuzzy-value-expression> <integer-expression> ");
    EXPECT_EQ(x->GetMinArgumentCount(), 2);
    EXPECT_EQ(x->GetMaxArgumentCount(), 2);
    EXPECT_EQ(Engine->FindUserFunction("get-fuzzy-inference")->GetArgumentString(), " ");
    EXPECT_EQ(Engine->FindUserFunction("plot-fuzzy-value")->GetMinArgumentCount(), 5);
    EXPECT_EQ(Engine->FindUserFunction("fuzzy-assert-unconditional")->GetMinArgumentCount(), 1);
    EXPECT_EQ(Engine->FindUserFunction("beta")->GetMaxArgumentCount(), 4);
    EXPECT_EQ(Engine->FindUserFunction("is-undecidable")->GetComment(),
              "Returns TRUE if the fuzzy set is undecidable.");
    EXPECT_TRUE(GetClass("TCreateFuzzyShapeFunction"));
}

TEST_F(FuzzyLogicPackageTest, NamesAreCaseSensitiveBesideTheMathPackage) {
    auto* engine = new TInferenceEngine(nullptr);
    engine->SetPackages(TFunctionPackages{pFuzzyLogic});
    EXPECT_TRUE(engine->FindUserFunction("pi"));
    EXPECT_FALSE(engine->FindUserFunction("PI"));
    engine->Free();
}

TEST_F(FuzzyLogicPackageTest, VariantSelectorFollowsTheName) {
    auto f = MakeRef<TGetFuzzyFunction>();
    EXPECT_EQ(f->GetFuzzyFunctionType(), gffGetFs);
    f->SetFunctionName("get-fs-y");
    EXPECT_EQ(f->GetFuzzyFunctionType(), gffGetFsY);
    EXPECT_EQ(f->GetMinArgumentCount(), 2);
    f->SetGetFuzzyFunctionType(gffGetFsVariable);
    EXPECT_EQ(f->GetFunctionName(), "get-fs-variable");
    EXPECT_EQ(f->GetMaxArgumentCount(), 1);
    f->SetFunctionName("other");
    EXPECT_EQ(f->GetFuzzyFunctionType(), gffGetFsVariable);
}

TEST_F(FuzzyLogicPackageTest, TriangleHasItsThreePoints) {
    const TRefPtr<IIEValue> t = Call("tri", {Int(0), Int(5), Int(10)});
    EXPECT_EQ(t->GetDType(), dtFuzzy);
    EXPECT_EQ(Call("get-fs-length", {t})->AsInteger(), 3);
    const double xs[] = {0, 5, 10}, ys[] = {0, 1, 0};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Call("get-fs-x", {t, Int(i)})->AsFloat(), xs[i]);
        EXPECT_EQ(Call("get-fs-y", {t, Int(i)})->AsFloat(), ys[i]);
    }
    EXPECT_EQ(ErrorOf("get-fs-x", {t, Int(3)}), "List index out of bounds (3)");
    EXPECT_EQ(Call("get-fs-variable", {t})->GetText(), "");
    EXPECT_EQ(t->AsFuzzy()->GetName(), "(tri 0 5 10)");
    const TRefPtr<ISingletonsVector> points = Call("get-fs", {t})->AsSingletons();
    ASSERT_EQ(points->Count(), 3);
    EXPECT_EQ(points->GetValue(1)->AsFloat(), 5.0);
    EXPECT_EQ(points->GetMembership(1)->AsFloat(), 1.0);
}

TEST_F(FuzzyLogicPackageTest, CurvesCrossAtTheirMiddle) {
    const TRefPtr<IIEValue> s = Call("s", {Int(0), Int(10)});
    EXPECT_EQ(Call("get-fs-length", {s})->AsInteger(), 7);
    EXPECT_NEAR(Grade(s, 5), 0.5, 1e-9);
    EXPECT_NEAR(Grade(s, 0), 0.0, 1e-9);
    EXPECT_NEAR(Grade(s, 10), 1.0, 1e-9);
    // 2 r^2 at the second sample, r = 1/6.
    EXPECT_NEAR(Call("get-fs-y", {s, Int(1)})->AsFloat(), 2.0 / 36.0, 1e-9);
    const TRefPtr<IIEValue> z = Call("z", {Int(0), Int(10)});
    EXPECT_NEAR(Grade(z, 0), 1.0, 1e-9);
    EXPECT_NEAR(Grade(z, 5), 0.5, 1e-9);
    EXPECT_NEAR(Grade(z, 10), 0.0, 1e-9);
    const TRefPtr<IIEValue> pi = Call("pi", {Int(5), Int(2)});
    EXPECT_NEAR(Grade(pi, 5), 1.0, 1e-9);
    EXPECT_NEAR(Grade(pi, 3), 0.0, 1e-9);
    EXPECT_NEAR(Grade(pi, 7), 0.0, 1e-9);
    const TRefPtr<IIEValue> pi3 = Call("pi", {Int(0), Int(4), Int(10)});
    EXPECT_NEAR(Grade(pi3, 4), 1.0, 1e-9);
    EXPECT_NEAR(Call("get-fs-x", {pi3, Int(0)})->AsFloat(), 0.0, 1e-9);
}

TEST_F(FuzzyLogicPackageTest, BetaWithTwoArgumentsTakesTheMidpointAsItsParameter) {
    // (beta 5 2): width 2 around 5, beta 2 + (5 - 2)/2 = 3.5; grade 1 / (1 + ((x - 5)/3.5)^2).
    const TRefPtr<IIEValue> b = Call("beta", {Int(5), Int(2)});
    EXPECT_EQ(Call("get-fs-length", {b})->AsInteger(), 7);
    EXPECT_NEAR(Call("get-fs-x", {b, Int(0)})->AsFloat(), 3.0, 1e-9);
    EXPECT_NEAR(Call("get-fs-y", {b, Int(0)})->AsFloat(), 1.0 / (1.0 + (2.0 / 3.5) * (2.0 / 3.5)),
                1e-9);
    EXPECT_NEAR(Call("get-fs-y", {b, Int(3)})->AsFloat(), 1.0, 1e-9);
    EXPECT_DOUBLE_EQ(b->AsFuzzy()->GetCurveParameter(), 3.5);
}

TEST_F(FuzzyLogicPackageTest, UnionAndIntersectionCombineInArgumentOrder) {
    const TRefPtr<IIEValue> a = Nested("tri", {0, 5, 10});
    const TRefPtr<IIEValue> b = Nested("tri", {5, 10, 15});
    const TRefPtr<IIEValue> u = Call("fuzzy-union", {a, b});
    const TRefPtr<IIEValue> i = Call("fuzzy-intersection", {a, b});
    for (double x : {0.0, 2.5, 5.0, 6.0, 7.5, 9.0, 10.0, 12.5}) {
        const double ga = Tri(0, 5, 10, x), gb = Tri(5, 10, 15, x);
        EXPECT_NEAR(Grade(u, x), std::max(ga, gb), 1e-9) << x;
        EXPECT_NEAR(Grade(i, x), std::min(ga, gb), 1e-9) << x;
    }
    const TRefPtr<IIEValue> ux = Call("fuzzy-union-x", {Atom("zadeh"), a, b});
    EXPECT_NEAR(Grade(ux, 6), 0.8, 1e-9);
    // Three arguments: the accumulated union of all.
    const TRefPtr<IIEValue> u3 = Call("fuzzy-union", {a, b, Nested("tri", {20, 25, 30})});
    EXPECT_NEAR(Grade(u3, 25), 1.0, 1e-9);
    EXPECT_NEAR(Grade(u3, 5), 1.0, 1e-9);
}

TEST_F(FuzzyLogicPackageTest, UnknownOperationNamesTheFunctionAndTheKeywords) {
    const TRefPtr<IIEValue> a = Nested("tri", {0, 5, 10});
    EXPECT_EQ(ErrorOf("fuzzy-union-x", {Atom("foo"), a, a}),
              "Invalid Fuzzy operation specified (foo) for fuzzy-union-x, expected zadeh, mean, "
              "mean-sqr, mean-sqrt, product, bounded-sum, or sum");
    EXPECT_EQ(ErrorOf("fuzzy-intersection-x", {Atom("or"), a, a}),
              "Invalid Fuzzy operation specified (or) for fuzzy-intersection-x, expected zadeh, "
              "mean, mean-sqr, mean-sqrt, product, bounded-sum, or sum");
    EXPECT_EQ(ErrorOf("fuzzy-union", {a}), "Too few arguments for fuzzy-union");
}

TEST_F(FuzzyLogicPackageTest, SettingsReturnThePreviousValue) {
    EXPECT_EQ(Call("set-fuzzy-inference", {Atom("sum")})->GetText(), "min-max");
    EXPECT_EQ(Call("get-fuzzy-inference")->GetText(), "sum");
    EXPECT_EQ(Engine->FuzzyInferenceMethod(), fimAdditive);
    EXPECT_EQ(ErrorOf("set-fuzzy-inference", {Atom("max")}),
              "Invalid Fuzzy Inference specified (max), expected min-max, sum, mean, product, "
              "bounded-sum");
    EXPECT_EQ(Engine->FuzzyInferenceMethod(), fimAdditive);

    EXPECT_EQ(Call("set-fuzzy-correlation", {Str("product")})->GetText(), "minimum");
    EXPECT_EQ(Call("get-fuzzy-correlation")->GetText(), "product");
    EXPECT_EQ(ErrorOf("set-fuzzy-correlation", {Atom("max")}),
              "Invalid Fuzzy Correlation specified (max), expected minimum, product");

    // Only the atom TRUE sets the flag.
    EXPECT_EQ(Call("set-fuzzy-auto-terms", {Atom("yes")})->GetText(), "TRUE");
    EXPECT_EQ(Call("get-fuzzy-auto-terms")->GetText(), "FALSE");
    EXPECT_EQ(Call("set-fuzzy-auto-terms", {Atom("TRUE")})->GetText(), "FALSE");
    EXPECT_TRUE(Engine->FuzzyAutoTerms());

    EXPECT_EQ(Call("set-fuzzy-threshold", {Flt(0.5)})->AsFloat(), static_cast<double>(0.01f));
    EXPECT_EQ(Call("get-fuzzy-threshold")->AsFloat(), 0.5);
    Call("set-fuzzy-threshold", {Int(2)});
    EXPECT_EQ(Call("get-fuzzy-threshold")->AsFloat(), 1.0);

    EXPECT_EQ(Call("set-activation-threshold", {Flt(0.25)})->AsFloat(), 0.0);
    EXPECT_EQ(Call("get-activation-threshold")->AsFloat(), 0.25);
}

TEST_F(FuzzyLogicPackageTest, ThresholdsBeyondSinglePrecisionOverflowInsteadOfBecomingInfinite) {
    EXPECT_EQ(ErrorOf("set-activation-threshold", {Flt(1e300)}), "Floating point overflow");
    EXPECT_EQ(Engine->MinActivationStrength(), 0.0f);
    EXPECT_EQ(ErrorOf("set-fuzzy-threshold", {Flt(-1e300)}), "Floating point overflow");
    EXPECT_EQ(Engine->FuzzyEqualsThreshold(), 0.01f);
}

TEST_F(FuzzyLogicPackageTest, UniverseOfAFuzzyType) {
    EXPECT_EQ(Call("get-u", {Atom("temp")})->GetText(), "\"0.0000 - 100.0000 C\"");
    EXPECT_EQ(Call("get-u-from", {Str("temp")})->AsFloat(), 0.0);
    EXPECT_EQ(Call("get-u-to", {Atom("temp")})->AsFloat(), 100.0);
    EXPECT_EQ(Call("get-u-units", {Atom("temp")})->GetText(), "\"C\"");
    const TRefPtr<IIEValue> cold = TIEValue::CreateFuzzy(Temp->GetSet("cold"));
    EXPECT_EQ(Call("get-u-to", {cold})->AsFloat(), 100.0);
    // A fact identifier is refused although the argument text mentions fuzzy facts.
    EXPECT_EQ(ErrorOf("get-u", {Int(0)}),
              "Invalid argument type for deffunction: \"dtInteger\".  Expected Atom, String, "
              "Fuzzy");
    EXPECT_EQ(ErrorOf("get-u", {Atom("nope")}), "type name unknown or invalid: nope");
    EXPECT_EQ(ErrorOf("get-u", {Nested("tri", {0, 5, 10})}), "fuzzy variable is not defined");
}

TEST_F(FuzzyLogicPackageTest, TermsOfAVariableReportTheirVariable) {
    const TRefPtr<IIEValue> hot = TIEValue::CreateFuzzy(Temp->GetSet("hot"));
    EXPECT_EQ(Call("get-fs-variable", {hot})->GetText(), "temp");
    EXPECT_NEAR(Grade(hot, 75), 0.5, 1e-9);
}

TEST_F(FuzzyLogicPackageTest, Defuzzifying) {
    // The centroid of the triangle (0, 2, 10) is (0 + 2 + 10) / 3 = 4; its maximum is at 2.
    EXPECT_NEAR(Call("moment-defuzzify", {Nested("tri", {0, 2, 10})})->AsFloat(), 4.0, 1e-9);
    EXPECT_NEAR(Call("maximum-defuzzify", {Nested("tri", {0, 2, 10})})->AsFloat(), 2.0, 1e-9);
    const TRefPtr<IIEValue> hot = TIEValue::CreateFuzzy(Temp->GetSet("hot"));
    // Mean of maxima of hot is 100, where its grade is 1.
    EXPECT_NEAR(Call("maximum-defuzzify", {hot})->AsFloat(), 100.0, 1e-9);
    EXPECT_NEAR(Call("get-compatibility-index", {hot})->AsFloat(), 1.0, 1e-9);
    EXPECT_EQ(Call("is-undecidable", {hot})->GetText(), "FALSE");
}

TEST_F(FuzzyLogicPackageTest, FactArgumentsMustNameFuzzyFacts) {
    const int32_t id = AssertOrdered("crisp");
    ASSERT_GE(id, 0);
    EXPECT_EQ(ErrorOf("get-fs-length", {Int(id)}), "Fact is not a fuzzy fact");
    EXPECT_EQ(ErrorOf("moment-defuzzify", {Int(99)}), "No Such Fact with ID=99 exists");
    EXPECT_EQ(ErrorOf("get-fs", {Atom("x")}),
              "Not a fuzzy value type.  Value (x) is a dtAtom type");
}

TEST_F(FuzzyLogicPackageTest, FuzzyAssertChoosesTheInferenceForOneAssertion) {
    TRefPtr<IFact> fact = Engine->ImpliedTemplate("reading")->NewFact();
    auto list = TValueVector::Create();
    list->Add(Int(7));
    fact->SetSlotValue(DataSlotName, TIEValue::CreateList(list));
    const TRefPtr<IIEValue> factValue = TIEValue::CreateFact(fact);
    // Without a method the plain form refuses the fact.
    EXPECT_EQ(ErrorOf("fuzzy-assert", {factValue, factValue}),
              "Invalid Fuzzy Inference specified (" + factValue->GetText() +
                  "), expected min-max, sum, mean, product, bounded-sum");
    EXPECT_EQ(ErrorOf("fuzzy-assert", {Atom("foo"), factValue}),
              "Invalid Fuzzy Inference specified (foo), expected min-max, sum, mean, product, "
              "bounded-sum");
    const TRefPtr<IIEValue> id = Call("fuzzy-assert-unconditional", {factValue});
    EXPECT_EQ(id->GetDType(), dtFactId);
    EXPECT_GE(Engine->Facts().IndexOfID(id->AsFactId()), 0);
    Engine->SetFuzzyInferenceMethod(fimMean);
    TRefPtr<IFact> other = Engine->ImpliedTemplate("other")->NewFact();
    const TRefPtr<IIEValue> second =
        Call("fuzzy-assert", {Atom("sum"), TIEValue::CreateFact(other)});
    EXPECT_EQ(second->GetDType(), dtFactId);
    EXPECT_EQ(Engine->FuzzyInferenceMethod(), fimMean);
    // A crisp duplicate is refused: FALSE.
    EXPECT_EQ(Call("fuzzy-assert", {Atom("sum"), TIEValue::CreateFact(other)})->GetText(), "FALSE");
    EXPECT_EQ(Call("fuzzy-assert-unconditional", {Atom("min-max")})->GetText(), "FALSE");
}

TEST_F(FuzzyLogicPackageTest, CreateFuzzyValueHandsTheExpressionToTheEngineBuilder) {
    const TRefPtr<IIEValue> term = Atom("cold");
    TFuzzyExpressionBuilder saved = FuzzyExpressionBuilder();
    FuzzyExpressionBuilder() = nullptr;
    EXPECT_EQ(ErrorOf("create-fuzzy-value", {Atom("temp"), term}),
              "Function is unimplemented or unassigned: BuildFuzzyExpression");
    IFuzzyVariable* seen = nullptr;
    int32_t items = -1;
    FuzzyExpressionBuilder() = [&](IFuzzyVariable* variable, const IValueVector& list,
                                   TIEContext*) -> TRefPtr<IIEValue> {
        seen = variable;
        items = list.Count();
        return TIEValue::CreateFuzzy(variable->GetSet(list.GetItem(0)->AsString()));
    };
    const TRefPtr<IIEValue> v = Call("create-fuzzy-value", {Atom("temp"), term});
    FuzzyExpressionBuilder() = saved;
    EXPECT_EQ(seen, Temp.get());
    EXPECT_EQ(items, 1);
    EXPECT_EQ(v->AsFuzzy()->GetName(), "cold");
    EXPECT_EQ(ErrorOf("create-fuzzy-value", {Atom("nope"), term}),
              "type name unknown or invalid: nope");
}

namespace {

// The expected plot, built from the grades of each set at the 50 plotted columns.
std::string ExpectedPlot(const std::string& header, double low, double high,
                         const std::vector<std::pair<char, std::function<double(double)>>>& sets,
                         const std::string& footer) {
    std::vector<std::string> grid(21, std::string(51, ' '));
    const double step = (high - low) / 50;
    for (const auto& [ch, grade] : sets)
        for (int column = 1; column <= 50; ++column) {
            const double g = std::min(grade(low + (column - 1) * step), 1.0);
            grid[static_cast<size_t>(std::nearbyint(g * 20))][column - 1] = ch;
        }
    std::string text = header + "\r\n";
    for (int row = 20; row >= 0; --row)
        text += Format("%.4f", row / 20.0) + grid[static_cast<size_t>(row)] + "\r\n";
    text += "    |----|----|----|----|----|----|----|----|----|----|\r\n";
    const double d = (high - low) / 5;
    text += Format("%7.2f %9.2f %9.2f %9.2f %9.2f %9.2f", low, low + d, low + 2 * d, low + 3 * d,
                   low + 4 * d, high) +
            "\r\n\r\n" + footer;
    return text;
}

} // namespace

TEST_F(FuzzyLogicPackageTest, PlotsAVariableTermByTerm) {
    EXPECT_EQ(Call("plot-fuzzy-value", {Str("t"), Str("ch"), Atom("x"), Atom("x"), Atom("temp")})
                  ->GetText(),
              "TRUE");
    EXPECT_EQ(PrintedTo, "t");
    const std::string expected =
        ExpectedPlot("Fuzzy Variable: temp\r\nFuzzy Values: cold(c) hot(h)\r\n", 0, 100,
                     {{'c', [](double x) { return Tri(0, 0, 50, x); }},
                      {'h', [](double x) { return Tri(50, 100, 100, x); }}},
                     "Universe of Discourse: From 0.00 to 100.00\r\n");
    EXPECT_EQ(Printed, expected);
    EXPECT_NE(Printed.find("   0.00     20.00     40.00     60.00     80.00    100.00\r\n"),
              std::string::npos);
}

TEST_F(FuzzyLogicPackageTest, PlotsValuesWithTheLastPlotCharacterRepeated) {
    const TRefPtr<IIEValue> a = Call("tri", {Int(0), Int(5), Int(10)});
    const TRefPtr<IIEValue> b = Call("tri", {Int(5), Int(10), Int(15)});
    Call("plot-fuzzy-value", {Atom("t"), Str("+"), Int(0), Flt(15.0), a, b});
    const std::string expected =
        ExpectedPlot("Fuzzy Values: (tri 0 5 10)(+) (tri 5 10 15)(+)\r\n", 0, 15,
                     {{'+', [](double x) { return Tri(0, 5, 10, x); }},
                      {'+', [](double x) { return Tri(5, 10, 15, x); }}},
                     "");
    EXPECT_EQ(Printed, expected);
}

TEST_F(FuzzyLogicPackageTest, PlotLimitsAreHeldWithinTheUniverse) {
    const TRefPtr<IIEValue> hot = TIEValue::CreateFuzzy(Temp->GetSet("hot"));
    Call("plot-fuzzy-value", {Str("t"), Str("*"), Int(-50), Int(500), hot});
    EXPECT_NE(Printed.find("   0.00     20.00"), std::string::npos);
    EXPECT_EQ(ErrorOf("plot-fuzzy-value", {Str("t"), Str("*"), Int(60), Int(40), hot}),
              "Invalid low and high limits specified: 60.0000 to 40.0000");
    const TRefPtr<IIEValue> loose = Call("tri", {Int(0), Int(5), Int(10)});
    EXPECT_EQ(ErrorOf("plot-fuzzy-value", {Str("t"), Str("*"), Int(0), Int(10), hot, loose}),
              "Fuzzy variables are different, hot is a term from temp and (tri 0 5 10) is a term "
              "from ");
}

TEST_F(FuzzyLogicPackageTest, EmptyPlotCharactersDrawWithAStar) {
    const TRefPtr<IIEValue> a = Call("tri", {Int(0), Int(5), Int(10)});
    Call("plot-fuzzy-value", {Str("t"), Str(""), Int(0), Int(10), a});
    const std::string expected =
        ExpectedPlot("Fuzzy Values: (tri 0 5 10)(*)\r\n", 0, 10,
                     {{'*', [](double x) { return Tri(0, 5, 10, x); }}}, "");
    EXPECT_EQ(Printed, expected);
}
