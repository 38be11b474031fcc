// The failure reports of IE_ASSERT and the structure checkers, and the process-wide switch of
// the checkers. A failure writes one line to standard error before it aborts, so that a test
// log names the broken condition.
#include "platform/Assert.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ie {

void AssertionFailed(const char* file, int line, const char* condition) noexcept {
    std::fprintf(stderr, "%s:%d: IE_ASSERT(%s) failed\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}

void InvariantBroken(const char* what) noexcept {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

#if defined(IE_CHECKS)
namespace {

std::atomic<bool>& ChecksOn() noexcept {
    static std::atomic<bool> on{[] {
        const char* v = std::getenv("IE_CHECK_STRUCTURES");
        return v && *v && std::strcmp(v, "0") != 0;
    }()};
    return on;
}

} // namespace

bool StructureChecks() noexcept {
    return ChecksOn().load(std::memory_order_relaxed);
}

bool SetStructureChecks(bool on) noexcept {
    return ChecksOn().exchange(on);
}
#endif

} // namespace ie
