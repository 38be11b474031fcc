#include "platform/Restore.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace ie {
namespace {

TEST(RestoreTest, PutsTheFormerValueBackOnReturnAndOnException) {
    std::string mode = "outer";
    {
        const TRestore<std::string> inner(mode, "inner");
        EXPECT_EQ(mode, "inner");
    }
    EXPECT_EQ(mode, "outer");
    EXPECT_THROW(
        {
            const TRestore<std::string> inner(mode, "inner");
            throw std::runtime_error("stop");
        },
        std::runtime_error);
    EXPECT_EQ(mode, "outer");
    {
        // Only restoring: the scope changes the value itself, twice.
        const TRestore<std::string> keep(mode);
        // Changed by appending: gcc 12 takes a short assignment for an overlapping copy.
        mode.clear();
        mode += 'a';
        mode += 'b';
    }
    EXPECT_EQ(mode, "outer");
}

TEST(RestoreTest, OnExitRunsOnceHoweverTheScopeEnds) {
    int runs = 0;
    {
        const TOnExit count([&] { ++runs; });
    }
    EXPECT_EQ(runs, 1);
    EXPECT_THROW(
        {
            const TOnExit count([&] { ++runs; });
            throw std::runtime_error("stop");
        },
        std::runtime_error);
    EXPECT_EQ(runs, 2);
}

// A guard of a scope that completes inside a destructor run by unwinding sees an exception in
// flight that is not its own: it must tell that apart from its own scope failing.
struct TCleanupOnUnwind {
    int& Undone;
    ~TCleanupOnUnwind() {
        const TOnFailure undo([this] { ++Undone; });
    }
};

TEST(RestoreTest, OnFailureRunsOnlyWhenItsOwnScopeIsUnwound) {
    int undone = 0;
    {
        const TOnFailure undo([&] { ++undone; });
    }
    EXPECT_EQ(undone, 0);
    EXPECT_THROW(
        {
            const TOnFailure undo([&] { ++undone; });
            throw std::runtime_error("stop");
        },
        std::runtime_error);
    EXPECT_EQ(undone, 1);
    int inner = 0;
    EXPECT_THROW(
        {
            const TCleanupOnUnwind cleanup{inner};
            throw std::runtime_error("stop");
        },
        std::runtime_error);
    EXPECT_EQ(inner, 0);
    try {
        throw std::runtime_error("handled");
    } catch (const std::exception&) {
        // Inside a handler the exception is caught, not in flight.
        const TOnFailure undo([&] { ++undone; });
    }
    EXPECT_EQ(undone, 1);
}

} // namespace
} // namespace ie
