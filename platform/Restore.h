// Restore-on-exit guards: state a scope changes comes back when the scope ends, on a return or
// an exception alike. `TRestore` puts a variable's former value back; `TOnExit` runs a callable
// (for state behind a setter; it must not throw). Neither is copied or moved, so a guard
// restores exactly once.
#pragma once

#include <utility>

namespace ie {

template <class T> class TRestore {
public:
    TRestore(T& ref, T value) : FRef(ref), FOld(std::move(ref)) { ref = std::move(value); }
    // Restores on exit only: the scope itself changes the variable.
    explicit TRestore(T& ref) : FRef(ref), FOld(ref) {}
    ~TRestore() { FRef = std::move(FOld); }
    TRestore(const TRestore&) = delete;
    TRestore& operator=(const TRestore&) = delete;

private:
    T& FRef;
    T FOld;
};

template <class F> class TOnExit {
public:
    explicit TOnExit(F action) : FAction(std::move(action)) {}
    ~TOnExit() { FAction(); }
    TOnExit(const TOnExit&) = delete;
    TOnExit& operator=(const TOnExit&) = delete;

private:
    F FAction;
};

} // namespace ie
