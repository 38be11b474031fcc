// The engine's whole-structure check, run after each propagation and firing while structure
// checks are on (platform/Assert.h), and the check of its fact list. The fact list keeps: its
// live slots number FLive, as its tree of live flags counts them; each identifier it files
// names a live slot holding a fact of that identifier; while indexed, the duplicate index holds
// exactly the live facts that are not fuzzy (the fuzzy ones are listed apart). Between the
// agenda and the network: every activation the terminal nodes list is on the agenda, and every
// activation on the agenda is listed by its node unless it is firing.
#include <stdexcept>
#include <string>

#include "engine/EngineTables.h"
#include "engine/InferenceEngine.h"
#include "engine/match/ReteNetwork.h"
#include "platform/Assert.h"

namespace ie {

void TFacts::CheckInvariants() const {
    auto fail = [](const char* id, const char* what) {
        throw std::logic_error(std::string("facts ") + id + ": " + what);
    };
    int32_t live = 0, plain = 0;
    for (const auto& f : FSlots)
        if (f) {
            ++live;
            if (FIndexed && !IsFuzzy(f.get())) {
                ++plain;
                if (!FIndex.FindEqual(*f))
                    fail("F01", "a live fact missing from the duplicate index");
            }
        }
    if (live != FLive) fail("F02", "live count differs from the facts stored");
    if (FHashes.size() != FSlots.size())
        fail("F03", "hashes kept beside the slots differ in number");
    if (FTree.size() != FSlots.size() || TreePrefix(FTree.size()) != FLive)
        fail("F04", "tree of live slots differs from the slots");
    for (const auto& [id, slot] : FSlotById)
        if (slot >= FSlots.size() || !FSlots[slot] || FSlots[slot]->GetFactId() != id)
            fail("F05", "identifier filed under a slot that does not hold it");
    if (!FIndexed) return;
    FIndex.CheckInvariants();
    if (FIndex.Count() != plain) fail("F06", "duplicate index and live facts differ in number");
    for (const IFact* f : FFuzzyFacts)
        if (SlotOfFact(f) == std::string::npos)
            fail("F07", "a fuzzy fact listed that is not stored");
    if (static_cast<int32_t>(FFuzzyFacts.size()) != live - plain)
        fail("F08", "fuzzy facts listed and stored differ in number");
}

namespace {

// A check walks every structure; after each change of a large engine that would make a long
// run quadratic. Each change earns the visit of CheckCredit items (see TCheckCredit): an engine
// of up to CheckCredit items is checked after every change, a larger one at a spacing that
// bounds the checks' share of the work.
constexpr int64_t CheckCredit = 256;
thread_local TCheckCredit Credit;

} // namespace

void TInferenceEngine::CheckStructures(bool always) const {
    if (!Credit.Due(CheckCredit, always)) return;
    const TIEAgenda& agenda = FRun->Agenda();
    const TFacts& facts = FMemory->Facts();
    Credit.Spent(facts.Count() + agenda.Count());
    try {
        agenda.CheckInvariants();
        facts.CheckInvariants();
        if (!FRete) return;
        int32_t listed = 0;
        Credit.AddSpent(FRete->CheckInvariants(&listed));
        int32_t filed = 0;
        for (int32_t i = 0; i < agenda.Count(); ++i) {
            const TActivation* a = agenda.Item(i);
            if (a->NodeLinks.Listed)
                ++filed;
            else if (!a->Firing())
                throw std::logic_error("agenda E01: an activation no node lists");
        }
        if (filed != listed)
            throw std::logic_error(
                "agenda E02: the terminal nodes list activations it does not hold");
    } catch (const std::logic_error& e) {
        InvariantBroken(e.what());
    }
}

} // namespace ie
