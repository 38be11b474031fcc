// The whole-structure checks of the agenda and of the network, which the engine runs after each
// propagation and firing when structure checks are on (platform/Assert.h).
//
// The agenda keeps: its list is linked both ways, holds the count of activations, each knowing
// it is filed in this agenda, with strictly ascending keys (salience, then the sequence signed by
// the strategy); its groups have strictly descending saliences and name the first and last
// activation of each salience in the list; when its index is built, the blocks are not empty,
// hold at most BlockSize activations each, their sizes are recorded, and they hold the list's
// activations in its order with their keys; a remembered index names its activation.
//
// The network keeps: every node it owns is reached from a root, every edge is recorded at both
// ends, and a node's rule use count is the number of times the rules' node lists name it; each
// join's memories belong to it and pass their own check; a left memory holds the tokens of the
// join upstream (or first-level tokens), a right memory first-level tokens; a token a join makes
// is held only by the left memories and activations of the nodes its join feeds; a negated
// join's left entry is blocked by a right entry it has, which counts it; a terminal node's list
// and index hold exactly its activations.
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/match/ActivationAgenda.h"
#include "engine/match/ReteNetwork.h"

namespace ie {

// ---------------------------------------------------------------------------------------------
// The agenda

void TActivationAgenda::CheckInvariants() const {
    auto fail = [](const char* id, const char* what) {
        throw std::logic_error(std::string("agenda ") + id + ": " + what);
    };
    // The list.
    int32_t count = 0;
    size_t group = 0;
    const TActivation* before = nullptr;
    for (const TActivation* a = FHead; a; before = a, a = a->FAgendaNext) {
        if (++count > FCount) fail("A01", "list longer than the count");
        if (a->FAgendaPrev != before) fail("A02", "list links differ in the two directions");
        if (!a->FInAgenda || a->FAgenda != this) fail("A03", "activation not filed in this agenda");
        if (a->FSequence == 0 || a->FSequence > FSequence || -a->FSequence > FSequence)
            fail("A04", "sequence number not yet drawn");
        if (before && !(before->Key() < a->Key())) fail("A05", "activations out of order");
        // Groups.
        const bool first = !before || before->FSalience != a->FSalience;
        const bool last = !a->FAgendaNext || a->FAgendaNext->FSalience != a->FSalience;
        if (first && before) ++group;
        if (group >= FGroups.size() || FGroups[group].Salience != a->FSalience)
            fail("A06", "salience group missing");
        if (first != (FGroups[group].First == a))
            fail("A07", "group names another first activation");
        if (last != (FGroups[group].Last == a)) fail("A08", "group names another last activation");
    }
    if (before != FTail) fail("A09", "list tail differs");
    if (count != FCount) fail("A10", "count differs from the activations filed");
    if (FCount ? group + 1 != FGroups.size() : !FGroups.empty())
        fail("A11", "group without activations kept");
    // The index, stored back to front.
    if (FIndexed) {
        if (FBlocks.size() != FSizes.size()) fail("A12", "block sizes and blocks differ in number");
        const TActivation* next = FHead;
        for (size_t b = FBlocks.size(); b-- > 0;) {
            const TBlock& block = FBlocks[b];
            if (block.empty()) fail("A13", "empty block kept");
            if (block.size() > BlockSize) fail("A14", "block larger than its bound");
            if (FSizes[b] != static_cast<int32_t>(block.size()))
                fail("A15", "recorded block size differs");
            for (auto slot = block.rbegin(); slot != block.rend(); ++slot) {
                if (slot->Activation != next) fail("A16", "index and list differ");
                if (slot->Key.Salience != next->Key().Salience ||
                    slot->Key.Sequence != next->Key().Sequence)
                    fail("A17", "slot key differs from its activation's key");
                next = next->FAgendaNext;
            }
        }
        if (next) fail("A18", "index holds fewer activations than the list");
    } else if (!FBlocks.empty() || FKnownBlock != NoPlace) {
        fail("A19", "index parts kept while it is dropped");
    }
    if (FKnownActivation) {
        if (FKnownIndex < 0 || FKnownIndex >= FCount) fail("A20", "remembered index out of range");
        const TActivation* a = FHead;
        for (int32_t i = 0; i < FKnownIndex; ++i)
            a = a->FAgendaNext;
        if (a != FKnownActivation) fail("A21", "remembered index names another activation");
        if (FKnownBlock != NoPlace &&
            (FKnownBlock >= FBlocks.size() || FKnownSlot >= FBlocks[FKnownBlock].size() ||
             FBlocks[FKnownBlock][FKnownSlot].Activation != a))
            fail("A22", "remembered place differs from the remembered index");
    }
}

// ---------------------------------------------------------------------------------------------
// The network

namespace {

// `id` names the failure for good (a test or a report finds it by that), whatever the words.
[[noreturn]] void Fail(const char* id, const std::string& what) {
    throw std::logic_error(std::string("network ") + id + ": " + what);
}

bool ListsHolder(const TIEToken& token, const TTokenHolder& holder) {
    for (const THolderLinks* h = token.FirstHolder(); h; h = h->HolderNext)
        if (h == &holder.Links) return true;
    return false;
}

// The join whose made tokens reach `node` through its left input (past test nodes), or null
// when the tokens come from the alpha nodes (first-level tokens).
const TJoinNode* UpstreamJoin(const TReteNode& node) {
    const TReteNode* at = &node;
    for (;;) {
        const TReteNode* from = nullptr;
        int inputs = 0;
        for (const TReteEdge& e : at->Incoming())
            if (e.CallType != ctRight) {
                from = e.Node;
                ++inputs;
            }
        if (inputs != 1)
            Fail("N01", std::string(at->NodeName()) + " without exactly one left input");
        if (auto* join = dynamic_cast<const TJoinNode*>(from)) return join;
        if (!dynamic_cast<const TTestNode*>(from)) return nullptr;
        at = from;
    }
}

} // namespace

void TPatternMatchTerminalNode::CheckInvariants(const TIETokenTree* upstream) const {
    const std::string rule = FRule ? FRule->RuleName() : std::string();
    auto fail = [&](const char* id, const char* what) {
        Fail(id, "terminal node of " + rule + ": " + what);
    };
    int32_t count = 0, indexed = 0;
    const TActivation* last = nullptr;
    for (const TActivation* a = FFirst; a; a = a->NodeLinks.Next) {
        const TActivation::TNodeLinks& links = a->NodeLinks;
        if ((links.Prev ? links.Prev->NodeLinks.Next : FFirst) != a)
            fail("N02", "activation list broken");
        if (!links.Listed) fail("N03", "activation in the list not marked listed");
        if (a->Node() != this || a->Rule() != FRule) fail("N04", "activation of another node");
        if (!a->Token()) fail("N05", "activation without a token");
        const TIEToken& token = TIEToken::Of(*a->Token());
        if (links.Indexed) {
            ++indexed;
            if (token.LeftOwner()) fail("N06", "indexed activation of a token a join made");
            if (links.Hash != token.IdentityHash())
                fail("N07", "activation indexed under another hash");
            bool found = !FHashing; // below the threshold the list is the index
            for (const TActivation* k = FIndex.First(links.Hash); k && !found;
                 k = k->NodeLinks.HashNext)
                found = k == a;
            if (!found) fail("N08", "indexed activation missing from its chain");
        } else {
            if (!token.LeftOwner()) fail("N09", "held activation of a first-level token");
            if (!ListsHolder(token, *a))
                fail("N10", "held activation missing from its token's holders");
        }
        const TIETokenTree* maker = token.LeftOwner() ? token.LeftOwner()->Tree : nullptr;
        if (maker != upstream) fail("N11", "activation of a token that does not reach the node");
        last = a;
        ++count;
    }
    if (FLast != last) fail("N12", "activation list end");
    if (count != FCount) fail("N13", "count differs from the activations listed");
    int32_t chained = 0;
    FIndex.ForEachKey([&](int32_t key, const TActivation* first) {
        for (const TActivation* k = first; k; k = k->NodeLinks.HashNext) {
            if (!k->NodeLinks.Indexed || k->NodeLinks.Hash != key)
                fail("N14", "index holds an activation not indexed under its key");
            ++chained;
        }
    });
    if (chained != (FHashing ? indexed : 0)) fail("N15", "index and list differ");
    if (FHashing && FCount == 0) fail("N16", "index kept for an empty list");
    if (!FHashing && indexed > IndexFrom) fail("N17", "long list without its index");
}

int64_t TReteNetwork::CheckInvariants(int32_t* activations) const {
    // Nodes, edges and rule uses.
    std::unordered_map<const TReteNode*, int32_t> uses;
    for (const auto& [rule, nodes] : FRules)
        for (const TReteNode* n : nodes) {
            if (!FNodes.count(const_cast<TReteNode*>(n)))
                Fail("N18", "a rule lists a node the network does not own");
            ++uses[n];
        }
    auto count = [](const TReteEdges& edges, const TReteNode* node, TCallType type) {
        int32_t n = 0;
        for (const TReteEdge& e : edges)
            n += e.Node == node && e.CallType == type;
        return n;
    };
    for (const auto& [raw, owned] : FNodes) {
        const std::string name(raw->NodeName());
        if (owned.get() != raw) Fail("N19", name + " owned under another node's key");
        if (raw->FRete != this) Fail("N20", name + " of another network");
        if (raw->RuleUseCount != uses[raw])
            Fail("N21", name + ": rule use count differs from the rules' node lists");
        for (const TReteEdge& e : raw->FOutgoing) {
            if (!FNodes.count(e.Node))
                Fail("N22", name + ": edge to a node the network does not own");
            if (count(raw->FOutgoing, e.Node, e.CallType) !=
                count(e.Node->FIncoming, raw, e.CallType))
                Fail("N23", name + ": edge not recorded at both ends");
        }
        for (const TReteEdge& e : raw->FIncoming)
            if (!FNodes.count(e.Node) || count(e.Node->FOutgoing, raw, e.CallType) !=
                                             count(raw->FIncoming, e.Node, e.CallType))
                Fail("N24", name + ": incoming edge not recorded at its source");
    }
    std::unordered_set<const TReteNode*> reached;
    std::vector<const TReteNode*> todo;
    for (const TPatternMatchNode* root : FRoots) {
        if (!FNodes.count(const_cast<TPatternMatchNode*>(root))) Fail("N25", "root not owned");
        if (!root->FIncoming.empty()) Fail("N26", "root with an input");
        if (reached.insert(root).second) todo.push_back(root);
    }
    while (!todo.empty()) {
        const TReteNode* n = todo.back();
        todo.pop_back();
        for (const TReteEdge& e : n->FOutgoing)
            if (reached.insert(e.Node).second) todo.push_back(e.Node);
    }
    if (reached.size() != FNodes.size()) Fail("N27", "a node not reached from a root");

    // Which join owns a memory, and which join's tokens reach a node.
    std::unordered_map<const TIETokenTree*, const TJoinNode*> leftOf;
    std::unordered_map<const TReteNode*, const TJoinNode*> upstream;
    for (const auto& [raw, owned] : FNodes) {
        if (auto* join = dynamic_cast<const TJoinNode*>(raw)) {
            leftOf[&join->LeftMemory()] = join;
            upstream[raw] = UpstreamJoin(*raw);
        } else if (dynamic_cast<const TPatternMatchTerminalNode*>(raw)) {
            upstream[raw] = UpstreamJoin(*raw);
        }
    }
    // A holder of a token `maker` made: a left entry or an activation of a node it feeds.
    auto checkHolders = [&](const TIEToken& child, const TJoinNode* maker) {
        auto check = [&](const TTokenEntry* entry, const THolderLinks* links) {
            const TReteNode* holder = nullptr;
            if (entry) {
                const auto it = leftOf.find(entry->Tree);
                if (it == leftOf.end()) Fail("N28", "a token held by an entry of no left memory");
                holder = it->second;
            } else {
                const auto& activation = static_cast<const TActivation&>(
                    TTokenHolder::OfLinks(const_cast<THolderLinks&>(*links)));
                holder = dynamic_cast<const TPatternMatchTerminalNode*>(activation.Node());
                if (!holder) return; // a firing activation whose node has gone
            }
            const auto up = upstream.find(holder);
            if (up == upstream.end() || up->second != maker)
                Fail("N29", "a token held by a node its join does not feed");
        };
        if (const TTokenEntry* slot = child.SlotHolder()) check(slot, nullptr);
        for (const THolderLinks* h = child.FirstHolder(); h; h = h->HolderNext)
            check(TTokenHolder::KindOf(*h) == TTokenHolder::hkEntry ? &TTokenEntry::OfLinks(*h)
                                                                    : nullptr,
                  h);
    };

    // A failure at a join names it by a rule that uses it (the first by name), the facts of the
    // token it found and the memory's tokens by their facts, as the engine writes them.
    std::unordered_map<const TReteNode*, std::string> ruleOf;
    for (const auto& [rule, nodes] : FRules)
        for (const TReteNode* n : nodes) {
            std::string& name = ruleOf[n];
            if (name.empty() || rule->RuleName() < name) name = rule->RuleName();
        }
    auto failAt = [&](const char* id, const TJoinNode& join, const std::string& what,
                      const TIEToken* token, const TIETokenTree& memory) {
        constexpr size_t Shown = 2000;
        std::string text = memory.GetFactIdText();
        if (text.size() > Shown) text = text.substr(0, Shown) + "...";
        Fail(id, std::string(join.NodeName()) + " of rule " + ruleOf[&join] + ": " + what +
                     (token ? "; facts " + token->FactIdList() : std::string()) + "; " +
                     (memory.RightSide() ? "right" : "left") + " memory:" + std::string(IELineEnd) +
                     text);
    };

    // A memory's own check, its failure named by the join and rule.
    // Returns the steps it took.
    auto checkMemory = [&](const TJoinNode& join, const TIETokenTree& memory) -> int64_t {
        try {
            return memory.CheckInvariants();
        } catch (const std::logic_error& e) {
            failAt("N51", join, e.what(), nullptr, memory);
        }
        return 0; // (failAt throws)
    };

    // The memories.
    int32_t listed = 0;
    int64_t entries = 0;
    // The sharers of each shared right memory, as the joins tell them and as it lists them.
    std::unordered_map<const TIETokenTree*, uint64_t> sharers;
    for (const auto& [raw, owned] : FNodes) {
        if (auto* terminal = dynamic_cast<const TPatternMatchTerminalNode*>(raw)) {
            const TJoinNode* up = upstream[raw];
            terminal->CheckInvariants(up ? &up->LeftMemory() : nullptr);
            listed += terminal->ActivationCount();
            continue;
        }
        auto* join = dynamic_cast<const TJoinNode*>(raw);
        if (!join) continue;
        const TIETokenTree& left = join->LeftMemory();
        const TIETokenTree& right = join->RightMemory();
        const ITokenMemoryOwner* self = join;
        if (left.Owner() != self || left.RightSide()) Fail("N30", "left memory of another join");
        const uint64_t bit = join->RightBit();
        if (right.Owner() != (bit ? nullptr : self) || !right.RightSide())
            Fail("N31", "right memory of another join");
        if (bit != 0 && (!right.Sharing() || (bit & (bit - 1)) != 0 || !(right.Sharers() & bit)))
            Fail("N32", "a join shares a right memory that does not list it");
        if (right.Sharing() && !bit)
            Fail("N33", "a shared right memory read by a join that does not share");
        entries += checkMemory(*join, left);
        if (!bit || !sharers.count(&right)) {
            entries += checkMemory(*join, right);
        }
        if (bit) {
            if (sharers[&right] & bit) Fail("N34", "two joins share a right memory with one bit");
            sharers[&right] |= bit;
        }
        const TJoinNode* up = upstream[raw];
        const TIETokenTree* made = up ? &up->LeftMemory() : nullptr;
        const bool negated = join->Negation() != jnNone;
        std::unordered_map<uint32_t, const TTokenEntry*> marks;
        for (const TTokenEntry* e = right.First(); e; e = e->Next) {
            if (e->Token->LeftOwner()) Fail("N35", "right memory holds a token a join made");
            if (!TIETokenTree::Sees(*e, bit)) continue;
            if (join->Hashed() && !join->KeysHold(*e))
                failAt("N36", *join,
                       "a right entry's probe key or exact-key flag is not its fact's",
                       e->Token.get(), right);
            if (bit && !static_cast<const TSharedEntry&>(*e).ParentsCoverChildren())
                failAt("N37", *join,
                       "a shared right entry lists a child whose sharer's parents bit is clear",
                       e->Token.get(), right);
            if (negated) {
                if (e->Mark == 0 || !marks.emplace(e->Mark, e).second)
                    Fail("N38", "right entry of a negated join without its own number");
                continue;
            }
            for (const TIEToken* c = e->FirstChild; c; c = c->NextOfRight()) {
                if (c->RightOwner() != e || !c->LeftOwner())
                    Fail("N39", "child of a right entry not made with a left entry of its join");
                // A shared entry lists the children of every sharer.
                const auto maker = leftOf.find(c->LeftOwner()->Tree);
                if (c->LeftOwner()->Tree != &left &&
                    (!bit || maker == leftOf.end() || &maker->second->RightMemory() != &right))
                    Fail("N40", "child of a right entry not made with a left entry of its join");
                if (maker != leftOf.end() && !maker->second->SharerNumberHolds(*c))
                    failAt("N41", *join,
                           "a child of a shared right entry carries another join's sharer number",
                           c, right);
            }
        }
        std::unordered_map<const TTokenEntry*, uint32_t> blocked;
        int32_t size = -1;
        for (const TTokenEntry* e : left.Entries()) {
            const TIETokenTree* maker =
                e->Token->LeftOwner() ? e->Token->LeftOwner()->Tree : nullptr;
            if (maker != made) Fail("N42", "left memory holds a token of another join");
            if (size >= 0 && e->Token->Size() != size)
                Fail("N43", "left tokens of different lengths");
            size = e->Token->Size();
            if (join->Hashed() && !join->KeysHold(*e))
                failAt("N44", *join,
                       "a left entry's probe key or exact-key flag is not its token's",
                       e->Token.get(), left);
            // The exact-key skip: the pairs it lets through pass the tests it skips.
            if (join->Hashed() && e->ExactKey)
                for (const TTokenEntry* r = right.FirstWithKey(e->ProbeKey); r;
                     r = TIETokenTree::NextWithKey(*r)) {
                    ++entries;
                    if (TIETokenTree::Sees(*r, bit) && e->ExactKeyEquals(*r) &&
                        !join->HashedTestsHold(*r->Fact, *e->Token))
                        failAt("N45", *join,
                               "entries of exact and equal keys fail the hash tests (right fact " +
                                   r->Token->FactIdList() + ")",
                               e->Token.get(), left);
                }
            if (negated && e->Mark != 0) {
                const auto it = marks.find(e->Mark);
                if (it == marks.end())
                    Fail("N46", "left entry blocked by a right entry that has gone");
                ++blocked[it->second];
            }
            for (const TIEToken* c = e->FirstChild; c; c = c->NextOfLeft()) {
                if (c->LeftOwner() != e) Fail("N47", "child listed under another left entry");
                if (c->RightOwner() && c->RightOwner()->Tree != &right)
                    Fail("N48", "child made with an entry of another right memory");
                checkHolders(*c, join);
            }
        }
        for (const auto& [entry, n] : blocked)
            // A full count stays full: it may be too high, never too low.
            if (entry->Blocked != UINT8_MAX && entry->Blocked < n)
                Fail("N49", "right entry counts fewer left entries than it blocks");
    }
    for (const auto& [memory, bits] : sharers)
        if (memory->Sharers() != bits)
            Fail("N50", "a shared right memory lists a sharer that has gone");
    if (activations) *activations = listed;
    return entries;
}

} // namespace ie
