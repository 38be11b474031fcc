#include "app/model/Mnemonics.h"
#include "platform/Random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace ie {
namespace {

// Records what the collection tells its owner.
struct TRecorder : IMnemonicsObserver {
    std::vector<std::string> Events;
    int ItemUpdates = 0;
    int WholeUpdates = 0;

    void MnemonicNotify(TMnemonic& item, TCollectionNotification action) override {
        const char* kind = action == TCollectionNotification::cnAdded        ? "added"
                           : action == TCollectionNotification::cnExtracting ? "extracting"
                                                                             : "deleting";
        Events.push_back(std::string(kind) + ":" + std::to_string(item.Index()));
    }
    void MnemonicUpdate(TMnemonic* item) override { ++(item ? ItemUpdates : WholeUpdates); }
};

TEST(MnemonicTest, NewItemDefaults) {
    TMnemonics mnemonics;
    TMnemonic& item = mnemonics.Add();
    EXPECT_EQ(item.Name(), "");
    EXPECT_EQ(item.Formula(), TFormula::fmSin);
    EXPECT_EQ(item.Value(), 0);
    EXPECT_EQ(item.Tag(), nullptr);
    EXPECT_EQ(item.System(), "unknown");
    EXPECT_EQ(item.SubSystem(), "unknown");
}

TEST(MnemonicTest, NamesComeFromTheCount) {
    TMnemonics mnemonics;
    for (int i = 0; i < 10; ++i)
        mnemonics.Add(TFormula::fmSin, 0, 0.1, 1);
    EXPECT_EQ(mnemonics[0].Name(), "Mnem1");
    EXPECT_EQ(mnemonics[9].Name(), "Mnem10");
    mnemonics.Delete(0);
    // Nine left: the next one is named after the count again, repeating Mnem10.
    EXPECT_EQ(mnemonics.Add(TFormula::fmSin, 0, 0.1, 1).Name(), "Mnem10");
}

TEST(MnemonicTest, ZeroIncrementBecomesDefault) {
    TMnemonics mnemonics;
    EXPECT_EQ(mnemonics.Add(TFormula::fmSin, 0, 0.0, 1).Increment(), 0.05);
    EXPECT_EQ(mnemonics.Add(TFormula::fmSin, 0, -0.0, 1).Increment(), 0.05);
    EXPECT_EQ(mnemonics.Add(TFormula::fmSin, 0, -0.2, 1).Increment(), -0.2);
}

struct TLimits {
    double YellowLow, YellowHigh, RedLow, RedHigh;
};

void ExpectLimits(const TMnemonic& item, TLimits limits) {
    EXPECT_DOUBLE_EQ(item.YellowLow(), limits.YellowLow) << item.Name();
    EXPECT_DOUBLE_EQ(item.YellowHigh(), limits.YellowHigh) << item.Name();
    EXPECT_DOUBLE_EQ(item.RedLow(), limits.RedLow) << item.Name();
    EXPECT_DOUBLE_EQ(item.RedHigh(), limits.RedHigh) << item.Name();
}

TEST(MnemonicTest, LimitsFollowFormulaAndModifier) {
    TMnemonics mnemonics;
    ExpectLimits(mnemonics.Add(TFormula::fmArcCos, 0, 0.1, 11), {11, 22, 5.5, 33});
    ExpectLimits(mnemonics.Add(TFormula::fmArcCos, 0, 0.1, -11), {-22, -11, -33, -5.5});
    ExpectLimits(mnemonics.Add(TFormula::fmArcCos, 0, 0.1, 0), {0, 0, 0, 0});
    ExpectLimits(mnemonics.Add(TFormula::fmCsc, 0.5, 0.1, 24), {-36, 36, -72, 72});
    ExpectLimits(mnemonics.Add(TFormula::fmSec, 0, 0.1, -2), {-3, 3, -6, 6});
    ExpectLimits(mnemonics.Add(TFormula::fmSin, 0, 0.1, -56), {-56, 56, -112, 112});
    ExpectLimits(mnemonics.Add(TFormula::fmTan, 0, 0.1, 7.4), {-7.4, 7.4, -14.8, 14.8});
    EXPECT_EQ(mnemonics[3].Formula(), TFormula::fmCsc);
}

TEST(MnemonicTest, LimitSettersPushTheirPartner) {
    TMnemonics mnemonics;
    TMnemonic& item = mnemonics.Add(TFormula::fmSin, 0, 0.1, 10); // yellow +-10, red +-20
    item.SetRedHigh(-30);
    EXPECT_EQ(item.RedHigh(), -30);
    EXPECT_EQ(item.RedLow(), -30);
    item.SetYellowLow(15);
    EXPECT_EQ(item.YellowLow(), 15);
    EXPECT_EQ(item.YellowHigh(), 15);
    item.SetRedLow(5);
    EXPECT_EQ(item.RedHigh(), 5);
    item.SetYellowHigh(-1);
    EXPECT_EQ(item.YellowLow(), -1);
}

TEST(MnemonicTest, LimitsAreInclusive) {
    TMnemonics mnemonics;
    TMnemonic& item = mnemonics.Add(TFormula::fmSin, 0, 0.1, 10);
    item.SetValue(20);
    EXPECT_FALSE(item.IsRed());
    EXPECT_TRUE(item.IsYellow());
    item.SetValue(-20);
    EXPECT_FALSE(item.IsRed());
    item.SetValue(-20.0001);
    EXPECT_TRUE(item.IsRed());
    item.SetValue(10);
    EXPECT_FALSE(item.IsYellow());
}

TEST(MnemonicTest, ArcFormsFoldOncePerStep) {
    TMnemonics mnemonics;
    TMnemonic& down = mnemonics.Add(TFormula::fmArcSin, -0.98, -0.05, 1);
    down.Step();
    EXPECT_NEAR(down.RawValue(), 0.97, 1e-12);
    EXPECT_DOUBLE_EQ(down.Value(), std::atan2(down.RawValue(), std::sqrt(1 - 0.97 * 0.97)));
    TMnemonic& edge = mnemonics.Add(TFormula::fmArcCos, 0.99, 0.01, 1);
    edge.Step();
    EXPECT_EQ(edge.RawValue(), 1.0); // 1 itself stays
    EXPECT_EQ(edge.Value(), 0.0);
    // The direct forms never fold.
    TMnemonic& direct = mnemonics.Add(TFormula::fmSin, 0.99, 0.02, 1);
    direct.Step();
    EXPECT_NEAR(direct.RawValue(), 1.01, 1e-12);
}

TEST(MnemonicTest, FormulasAsWritten) {
    const double x = 0.3;
    EXPECT_EQ(EvaluateFormula(TFormula::fmSin, x), std::sin(x));
    EXPECT_EQ(EvaluateFormula(TFormula::fmCos, x), std::cos(x));
    EXPECT_EQ(EvaluateFormula(TFormula::fmArcCos, x), std::atan2(std::sqrt(1 - x * x), x));
    EXPECT_EQ(EvaluateFormula(TFormula::fmArcSin, x), std::atan2(x, std::sqrt(1 - x * x)));
    EXPECT_EQ(EvaluateFormula(TFormula::fmTan, x), std::tan(x));
    EXPECT_EQ(EvaluateFormula(TFormula::fmCot, x), 1 / std::tan(x));
    EXPECT_EQ(EvaluateFormula(TFormula::fmSec, x), 1 / std::cos(x));
    EXPECT_EQ(EvaluateFormula(TFormula::fmCsc, x), 1 / std::sin(x));
    EXPECT_NEAR(EvaluateFormula(TFormula::fmArcCos, -1), M_PI, 1e-15);
}

TEST(MnemonicTest, NoFiniteValueRaisesInsteadOfNaN) {
    const auto message = [](TFormula formula, double x) {
        try {
            EvaluateFormula(formula, x);
        } catch (const EMathError& e) {
            return e.Message();
        }
        return std::string("no error");
    };
    EXPECT_EQ(message(TFormula::fmCot, 0), "Floating point division by zero");
    EXPECT_EQ(message(TFormula::fmCsc, 0), "Floating point division by zero");
    EXPECT_EQ(message(TFormula::fmArcCos, 1.5), "Invalid floating point operation");
    EXPECT_EQ(message(TFormula::fmArcSin, -3), "Invalid floating point operation");
    EXPECT_EQ(message(TFormula::fmSin, INFINITY), "Invalid floating point operation");

    // An increment beyond 2 leaves the arc forms outside [-1, 1] after the single fold.
    TMnemonics mnemonics;
    TMnemonic& item = mnemonics.Add(TFormula::fmArcCos, 0, 5, 1);
    EXPECT_THROW(item.Step(), EMathError);
    EXPECT_FALSE(std::isnan(item.Value()));
    // A product that overflows is an error, too.
    TMnemonic& huge = mnemonics.Add(TFormula::fmSin, 0, 0.1, 1);
    huge.SetModifier(1e308);
    huge.SetFormula(TFormula::fmSec);
    huge.SetRawValue(M_PI / 2); // cos is about 6e-17: 1/cos * 1e308 overflows
    EXPECT_THROW(huge.Calculate(), EMathError);
}

TEST(MnemonicTest, DisplayNameUsesTwoDecimals) {
    TMnemonics mnemonics;
    TMnemonic& item = mnemonics.Add(TFormula::fmSin, 0.5, 0.01, -56);
    item.SetName("CommMnem1");
    EXPECT_EQ(item.GetDisplayName(), "CommMnem1 (fmSin): i:0.01 m:-56.00");
    EXPECT_EQ(FormulaName(TFormula::fmCsc), "fmCsc");
}

TEST(MnemonicTest, AssignCopiesValuesButNotIncrementOrSystem) {
    TMnemonics mnemonics;
    TMnemonic& source = mnemonics.Add(TFormula::fmCsc, 0.5, 0.3, 24);
    source.Step();
    source.SetSystem("Power");
    TMnemonic& target = mnemonics.Add(TFormula::fmSin, 0, 0.1, 1);
    TRecorder recorder;
    mnemonics.SetOwner(&recorder);
    target.Assign(source);
    EXPECT_EQ(recorder.ItemUpdates, 1);
    EXPECT_EQ(target.Name(), "Mnem1");
    EXPECT_EQ(target.Formula(), TFormula::fmCsc);
    EXPECT_EQ(target.Value(), source.Value());
    EXPECT_EQ(target.RedHigh(), 72);
    EXPECT_EQ(target.Increment(), 0.1);
    EXPECT_EQ(target.System(), "unknown");
}

TEST(MnemonicsTest, UpdatesAreReportedOnceAtTheOutermostEnd) {
    TRecorder recorder;
    TMnemonics mnemonics(&recorder);
    mnemonics.BeginUpdate();
    mnemonics.BeginUpdate();
    mnemonics.Add(TFormula::fmSin, 0, 0.1, 1);
    mnemonics.EndUpdate();
    EXPECT_EQ(recorder.WholeUpdates, 0);
    mnemonics.EndUpdate();
    EXPECT_EQ(recorder.WholeUpdates, 1);
    EXPECT_EQ(recorder.ItemUpdates, 0);
    ASSERT_EQ(recorder.Events.size(), 1u);
    EXPECT_EQ(recorder.Events[0], "added:0");
}

TEST(MnemonicsTest, EveryStepReportsOneChangeEvenWithoutNewValue) {
    TRecorder recorder;
    TMnemonics mnemonics(&recorder);
    mnemonics.Add(TFormula::fmSin, 0, 0.1, 0); // modifier 0: the value stays 0
    mnemonics.Add(TFormula::fmCos, 0, 0.1, 2);
    std::vector<std::string> order;
    mnemonics.OnBeforeIterate = [&](TMnemonics&) { order.push_back("before"); };
    mnemonics.OnIterateItem = [&](TMnemonics& sender, TMnemonic& item) {
        EXPECT_EQ(&sender, &mnemonics);
        order.push_back(item.Name());
    };
    mnemonics.OnAfterIterate = [&](TMnemonics&) { order.push_back("after"); };
    recorder.ItemUpdates = 0;
    mnemonics.Iterate();
    EXPECT_EQ(recorder.ItemUpdates, 2);
    EXPECT_EQ(order, (std::vector<std::string>{"before", "Mnem1", "Mnem2", "after"}));
}

TEST(MnemonicsTest, RemovalIsAnnounced) {
    TRecorder recorder;
    TMnemonics mnemonics(&recorder);
    mnemonics.Add(TFormula::fmSin, 0, 0.1, 1);
    mnemonics.Add(TFormula::fmSin, 0, 0.1, 1);
    recorder.Events.clear();
    mnemonics.Delete(0);
    EXPECT_EQ(recorder.Events, (std::vector<std::string>{"deleting:0", "extracting:0"}));
    EXPECT_THROW(mnemonics.Items(1), EListError);
    recorder.Events.clear();
    mnemonics.Clear();
    EXPECT_EQ(recorder.Events, (std::vector<std::string>{"extracting:0"}));
    EXPECT_EQ(mnemonics.Count(), 0);
}

TEST(MnemonicsTest, RandomMnemonics) {
    TMnemonics mnemonics;
    mnemonics.AddRandomMnemonics(0);
    mnemonics.AddRandomMnemonics(-3);
    EXPECT_EQ(mnemonics.Count(), 0);
    SetRandSeed(1);
    mnemonics.AddRandomMnemonics(50);
    ASSERT_EQ(mnemonics.Count(), 50);
    for (int i = 0; i < mnemonics.Count(); ++i) {
        const TMnemonic& item = mnemonics[i];
        const bool small = item.Formula() == TFormula::fmTan || item.Formula() == TFormula::fmCot;
        EXPECT_GE(item.RawValue(), -1.0);
        EXPECT_LE(item.RawValue(), 0.0);
        EXPECT_LE(std::abs(item.Increment()), small ? 0.05 + 1e-12 : 0.5 + 1e-12);
        EXPECT_LE(std::abs(item.Modifier()), small ? 10.0 + 1e-12 : 100.0);
        EXPECT_NE(item.Increment(), 0.0);
    }
}

} // namespace
} // namespace ie
