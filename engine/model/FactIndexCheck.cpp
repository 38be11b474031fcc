// The whole-structure check of the duplicate index (TFactIndex). It keeps: every indexed fact is
// held once, either as the entry of its equality class or in that entry's list of later equal
// facts; each entry is stored under the hash its fact has now and is found by it; a later equal
// fact equals its entry's fact and has its hash; the count is the number of facts held.
#include <stdexcept>
#include <string>
#include <unordered_set>

#include "engine/model/IEFacts.h"

namespace ie {

void TFactIndex::CheckInvariants() const {
    auto fail = [](const char* id, const char* what) {
        throw std::logic_error(std::string("fact index ") + id + ": " + what);
    };
    std::unordered_set<const IFact*> seen;
    int64_t count = 0;
    for (const TKey& key : FFacts) {
        if (!key.Fact) fail("X01", "entry without a fact");
        if (key.Hash != HashOf(*key.Fact)) fail("X02", "stored hash differs from the fact's hash");
        if (!seen.insert(key.Fact).second) fail("X03", "a fact indexed twice");
        const auto found = FFacts.find(key);
        if (found == FFacts.end() || found->Fact != key.Fact)
            fail("X04", "entry not found by its key");
        ++count;
    }
    for (const auto& [first, later] : FEqualLater) {
        const auto entry = FFacts.find(TKey{HashOf(*first), first});
        if (entry == FFacts.end() || entry->Fact != first)
            fail("X05", "later equal facts kept under a fact that is not an entry");
        if (later.empty()) fail("X06", "empty list of later equal facts kept");
        for (const IFact* f : later) {
            if (!f) fail("X07", "later equal fact missing");
            if (!seen.insert(f).second) fail("X08", "a fact indexed twice");
            if (HashOf(*f) != entry->Hash || !f->Equals(first))
                fail("X09", "later fact differs from its entry's fact");
            ++count;
        }
    }
    if (count != FCount) fail("X10", "count differs from the facts held");
}

} // namespace ie
