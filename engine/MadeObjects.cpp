// The engine's made objects, held by their life records: an object freed by someone else
// leaves its record behind, empty, and is skipped.
//
// Invariant: a record is only read for its object, never the object kept in it: an object freed
// elsewhere is never touched again.
#include "engine/MadeObjects.h"

#include <algorithm>

namespace ie {

void TMadeObjects::Keep(TObject* object) {
    if (!object) return;
    // Objects freed meanwhile leave their records behind; they are dropped as the list grows.
    if (FItems.size() >= 64 && FItems.size() == FItems.capacity())
        std::erase_if(FItems,
                      [](const TRefPtr<TObjectLife>& life) { return life->Object() == nullptr; });
    FItems.push_back(TrackObjectLife(object));
}

void TMadeObjects::FreeAll() noexcept {
    std::vector<TRefPtr<TObjectLife>> made;
    made.swap(FItems);
    // The latest first: an object made later may refer to an earlier one.
    for (auto it = made.rbegin(); it != made.rend(); ++it) {
        TObject* object = (*it)->Object();
        if (!object) continue;
        try {
            FreeObject(object);
        } catch (...) {
            // Destruction cannot report; the object's own destructor failed.
        }
    }
}

} // namespace ie
