// Every input the fuzz targets ever crashed on, replayed through the targets' own steps with
// every package: tests/data/fuzz/* through the reader and writer, tests/data/fuzz-batch/* as
// batch commands. Each must finish without a crash, leak or sanitizer report.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzInputs.h"
#include "tests/support/AllPackages.h"

namespace ie {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> KeptInputs(const char* folder) {
    std::vector<fs::path> r;
    const fs::path dir = fs::path(IE_TEST_DATA_DIR) / folder;
    if (!fs::is_directory(dir)) return r;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file()) r.push_back(entry.path());
    std::sort(r.begin(), r.end());
    return r;
}

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The targets work in their scratch directory; the test process gets its own directory back
// and the scratch directory is removed.
struct TFuzzReplay : ::testing::Test {
    TFuzzReplay() : Home(fs::current_path()) { test::RegisterAllPackages(); }
    ~TFuzzReplay() override {
        std::error_code ec;
        fs::current_path(Home, ec);
        fs::remove_all(fuzz::ScratchDirectory(), ec);
    }
    fs::path Home;
};

TEST_F(TFuzzReplay, ReaderInputsFinish) {
    for (const fs::path& input : KeptInputs("fuzz")) {
        const std::string bytes = Bytes(input);
        fuzz::RunParserInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        EXPECT_EQ(fs::current_path(), fuzz::ScratchDirectory()) << input;
    }
}

TEST_F(TFuzzReplay, BatchInputsFinish) {
    const std::vector<fs::path> inputs = KeptInputs("fuzz-batch");
    ASSERT_FALSE(inputs.empty());
    for (const fs::path& input : inputs) {
        const std::string bytes = Bytes(input);
        fuzz::RunBatchInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        EXPECT_EQ(fs::current_path(), fuzz::ScratchDirectory()) << input;
    }
}

// The guards themselves: files are written inside the scratch directory only, and a loop
// without end stops at the call budget.
TEST_F(TFuzzReplay, GuardsKeepFilesInsideTheScratchDirectoryAndLoopsBounded) {
    const auto run = [](const std::string& input) {
        fuzz::RunBatchInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    };
    run("(save \"inside.clp\")\n");
    EXPECT_TRUE(fs::exists(fuzz::ScratchDirectory() / "inside.clp"));
    const fs::path outside = fs::temp_directory_path() / "corvane-fuzz-guard-probe.txt";
    fs::remove(outside);
    run("(open \"" + outside.string() + "\" out \"w\")\n");
    run("(bind ?f (str-cat \"" + outside.string() + "\"))\n(save ?f)\n");
    run("(dribble-on \"../corvane-fuzz-guard-probe.txt\")\n(printout t x crlf)\n");
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_FALSE(fs::exists(fuzz::ScratchDirectory() / "inside.clp"));
    run("(deffunction f () (while (eq 1 1) (bind ?x 1)))\n(f)\n");
    run("(defrule r (a ?n) => (assert (a (+ ?n 1))))\n(assert (a 0))\n(run)\n");
}

} // namespace
} // namespace ie
