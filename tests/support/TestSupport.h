// Helpers every test program shares, independent of any subsystem.
#pragma once

#include <exception>
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

} // namespace ie::test
