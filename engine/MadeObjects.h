// The objects rule code made (create-object) that nobody owns: the engine keeps them here and
// frees them (FreeAll) when it goes, unless they have been freed before.
//
// Invariant: each object is freed at most once, and only while it still lives (its life record
// says whether it does); the latest goes first, since an object made later may refer to an
// earlier one.
#pragma once

#include <vector>

#include "platform/Component.h"

namespace ie {

class TMadeObjects {
public:
    TMadeObjects() = default;
    TMadeObjects(const TMadeObjects&) = delete;
    TMadeObjects& operator=(const TMadeObjects&) = delete;

    void Keep(TObject* object);
    // Frees every object still alive, the latest first; the list is empty after.
    void FreeAll() noexcept;

private:
    std::vector<TRefPtr<TObjectLife>> FItems;
};

} // namespace ie
