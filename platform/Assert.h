// Checked invariants.
//
// IE_ASSERT(condition) states that the condition holds whatever the input: a state that only a
// fault in the program can bring about. Failing, it writes the file, the line and the condition
// to standard error and aborts. It is compiled in where the build defines IE_CHECKS (the debug,
// asan and fuzz presets: the one switch of every check); elsewhere it compiles to nothing and the
// condition is not evaluated, so it must have no effect the program relies on. A state that bad
// input can bring about is not asserted: it gets the system's own error message.
//
// The whole-structure checkers (the token memories, the agenda, the fact index, the network)
// cost a walk over the structure. With IE_CHECKS the engine runs them after every propagation
// and firing while StructureChecks() is on: the environment variable IE_CHECK_STRUCTURES (read
// once, any value but empty or "0") turns it on for a process, SetStructureChecks for a test.
// Without IE_CHECKS StructureChecks() is a constant false and the hook is compiled out. The
// token memories check themselves as they change in every build with IE_CHECKS.
#pragma once

#include <cstdint>

namespace ie {

// Reports the failed condition and aborts.
[[noreturn]] void AssertionFailed(const char* file, int line, const char* condition) noexcept;
// Reports a broken invariant that a checker found (`what` names it) and aborts.
[[noreturn]] void InvariantBroken(const char* what) noexcept;

#if defined(IE_CHECKS)
inline constexpr bool ChecksCompiled = true;
bool StructureChecks() noexcept;
// Returns the former setting.
bool SetStructureChecks(bool on) noexcept;
#else
inline constexpr bool ChecksCompiled = false;
constexpr bool StructureChecks() noexcept {
    return false;
}
inline bool SetStructureChecks(bool) noexcept {
    return false;
}
#endif

// Spaces a whole-structure check so that its cost stays a bounded share of the work: each change
// earns the visit of some items, and a check is due once the credit covers the items the last
// one visited. A structure of up to one change's credit is checked after every change, a larger
// one at a spacing that grows with it.
class TCheckCredit {
public:
    // Earns `perChange` items; true when a check is due (or `always`), which then spends the
    // credit: the caller reports the check's cost with Spent.
    bool Due(int64_t perChange, bool always = false) noexcept {
        FCredit += perChange;
        if (!always && FCredit < FLastCost) return false;
        FCredit = 0;
        return true;
    }
    void Spent(int64_t items) noexcept { FLastCost = items; }
    void AddSpent(int64_t items) noexcept { FLastCost += items; }

private:
    int64_t FCredit = 0;
    int64_t FLastCost = 0;
};

} // namespace ie

#if defined(IE_CHECKS)
#define IE_ASSERT(condition)                                                                       \
    ((condition) ? static_cast<void>(0) : ::ie::AssertionFailed(__FILE__, __LINE__, #condition))
#else
// Unevaluated, but its names count as used.
#define IE_ASSERT(condition) static_cast<void>(sizeof(!(condition)))
#endif
