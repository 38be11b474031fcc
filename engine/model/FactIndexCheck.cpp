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
    auto fail = [](const char* what) {
        throw std::logic_error(std::string("fact index: ") + what);
    };
    std::unordered_set<const IFact*> seen;
    int64_t count = 0;
    for (const TKey& key : FFacts) {
        if (!key.Fact) fail("entry without a fact");
        if (key.Hash != HashOf(*key.Fact)) fail("stored hash differs from the fact's hash");
        if (!seen.insert(key.Fact).second) fail("a fact indexed twice");
        const auto found = FFacts.find(key);
        if (found == FFacts.end() || found->Fact != key.Fact) fail("entry not found by its key");
        ++count;
    }
    for (const auto& [first, later] : FEqualLater) {
        const auto entry = FFacts.find(TKey{HashOf(*first), first});
        if (entry == FFacts.end() || entry->Fact != first)
            fail("later equal facts kept under a fact that is not an entry");
        if (later.empty()) fail("empty list of later equal facts kept");
        for (const IFact* f : later) {
            if (!f) fail("later equal fact missing");
            if (!seen.insert(f).second) fail("a fact indexed twice");
            if (HashOf(*f) != entry->Hash || !f->Equals(first))
                fail("later fact differs from its entry's fact");
            ++count;
        }
    }
    if (count != FCount) fail("count differs from the facts held");
}

} // namespace ie
