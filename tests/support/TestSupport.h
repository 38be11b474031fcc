// Helpers every test program shares, independent of any subsystem.
#pragma once

#include <unistd.h>

#include <atomic>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

namespace ie::test {

// The message of the exception of kind E that `f` raises; `none` when it raises nothing.
template <class E = std::exception, class F>
std::string MessageOf(F&& f, std::string_view none = "<no exception>") {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return std::string(none);
}

// A path in the temporary folder that no other test uses: ctest runs the tests of one program as
// parallel processes, so the name carries the process id and a per-process count (before the
// extension, which some readers go by).
inline std::filesystem::path UniqueTempPath(std::string_view name) {
    static std::atomic<int> count{0};
    const std::filesystem::path given{std::string(name)};
    return std::filesystem::temp_directory_path() /
           (given.stem().string() + "-" + std::to_string(::getpid()) + "-" +
            std::to_string(count.fetch_add(1)) + given.extension().string());
}

} // namespace ie::test
