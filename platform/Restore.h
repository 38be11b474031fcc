// Restore-on-exit guards: state a scope changes comes back when the scope ends, on a return or
// an exception alike. `TRestore` puts a variable's former value back; `TOnExit` runs a callable
// (for state behind a setter); `TOnFailure` runs one only when the scope is left by an exception
// (to undo what the scope half did: free a half-built object, hand back what it took). The
// callables must not throw. No guard is copied or moved, so each acts at most once.
#pragma once

#include <exception>
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

template <class F> class TOnFailure {
public:
    explicit TOnFailure(F action) : FAction(std::move(action)) {}
    ~TOnFailure() {
        // More exceptions in flight than at construction: this scope is being unwound.
        if (std::uncaught_exceptions() > FExceptions) FAction();
    }
    TOnFailure(const TOnFailure&) = delete;
    TOnFailure& operator=(const TOnFailure&) = delete;

private:
    F FAction;
    int FExceptions = std::uncaught_exceptions();
};

} // namespace ie
