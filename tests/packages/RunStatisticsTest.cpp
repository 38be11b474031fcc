// The run statistics of (watch statistics): the run is timed in whole milliseconds, so a short
// run measures 0 seconds and its rate is the bare count of rules fired.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/InferenceEngine.h"
#include "platform/DateTime.h"

namespace ie {
namespace {

// A countdown from 3: four firings (three ticks and the end). After the firings there are
// 2, 2, 2 and 3 facts and 1, 1, 1 and 0 activations.
constexpr const char* Countdown = R"(
(deffacts start (count 3))
(defrule tick
  ?f <- (count ?n&:(> ?n 0))
  =>
  (retract ?f)
  (assert (count (- ?n 1))))
(defrule done
  (count 0)
  =>
  (assert (finished)))
(watch statistics)
(reset)
(run)
)";

class RunStatistics : public ::testing::Test {
protected:
    ~RunStatistics() override { SetMillisecondTimer(nullptr); }

    std::string Run() {
        TInferenceEngine engine;
        std::string out;
        engine.OnPrintOut = [&](TInferenceEngine*, const std::string&, const std::string& text) {
            out += text;
        };
        engine.ExecuteCommand(Countdown, true);
        return out;
    }
};

TEST_F(RunStatistics, AZeroRunTimeGivesTheBareCountAsTheRate) {
    SetMillisecondTimer([] { return int64_t{123456}; });
    EXPECT_EQ(Run(), "TRUE\r\nTRUE\r\n"
                     "4 rules fired.     Run time is 0.0000 seconds\r\n"
                     "4 rules per second\r\n"
                     "2.2500 mean number of facts (3 maximum)\r\n"
                     "0.7500 mean number of activations (1 maximum)\r\n"
                     "4\r\n");
}

TEST_F(RunStatistics, TheRunTimeIsWholeMillisecondsOverAThousand) {
    // The start of the run reads 1000, its end 1250.
    int64_t now = 750;
    SetMillisecondTimer([&] { return now += 250; });
    EXPECT_EQ(Run(), "TRUE\r\nTRUE\r\n"
                     "4 rules fired.     Run time is 0.2500 seconds\r\n"
                     "16.0000 rules per second\r\n"
                     "2.2500 mean number of facts (3 maximum)\r\n"
                     "0.7500 mean number of activations (1 maximum)\r\n"
                     "4\r\n");
}

} // namespace
} // namespace ie
