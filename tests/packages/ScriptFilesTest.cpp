// Rule-language scripts run end to end through an engine with every package: each
// tests/data/packages/<name>.clp that has a <name>.out beside it is loaded as ierun loads a file
// (top-level commands executed, their values echoed to "t") and everything printed is compared
// with the .out file. The engine writes CR LF line ends; the .out files are kept with plain line
// feeds, each of which stands for CR LF. A script whose name begins "breadth-" runs under the
// breadth-first strategy, which the rule language itself cannot select. (exit) ends a script
// without a message.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/InferenceEngine.h"
#include "platform/Assert.h"
#include "platform/Restore.h"
#include "tests/support/AllPackages.h"

namespace ie {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string WithCrLf(const std::string& text) {
    std::string r;
    r.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        if (c == '\n') r += '\r';
        r += c;
    }
    return r;
}

std::string RunScript(const fs::path& script) {
    test::RegisterAllPackages();
    // Every structure is checked after each change and firing (in builds that have checks).
    const bool checked = SetStructureChecks(true);
    const TOnExit restore([checked] { SetStructureChecks(checked); });
    TInferenceEngine engine;
    if (script.filename().string().rfind("breadth-", 0) == 0) engine.SetStrategy(ssBreadthFirst);
    std::string out;
    engine.OnPrintOut = [&](TInferenceEngine*, const std::string&, const std::string& text) {
        out += text;
    };
    try {
        engine.ExecuteCommand(Slurp(script), true);
    } catch (const EAbort&) {
        // (exit) ends the script silently, as it ends ierun.
    } catch (const std::exception& e) {
        out += std::string(e.what()) + "\r\n";
    }
    return out;
}

std::vector<fs::path> Scripts(const char* folder) {
    std::vector<fs::path> r;
    const fs::path dir = fs::path(IE_TEST_DATA_DIR) / folder;
    if (!fs::is_directory(dir)) return r;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".clp") continue;
        fs::path expected = entry.path();
        expected.replace_extension(".out");
        if (fs::exists(expected)) r.push_back(entry.path());
    }
    std::sort(r.begin(), r.end());
    return r;
}

class PackageScripts : public ::testing::TestWithParam<fs::path> {};

TEST_P(PackageScripts, PrintTheirExpectedOutput) {
    const fs::path script = GetParam();
    fs::path expected = script;
    expected.replace_extension(".out");
    EXPECT_EQ(RunScript(script), WithCrLf(Slurp(expected))) << script;
}

INSTANTIATE_TEST_SUITE_P(Files, PackageScripts, ::testing::ValuesIn(Scripts("packages")),
                         [](const ::testing::TestParamInfo<fs::path>& info) {
                             std::string name = info.param.stem().string();
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PackageScripts);

} // namespace
} // namespace ie
