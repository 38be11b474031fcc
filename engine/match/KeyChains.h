// Chains of intrusively linked nodes by a 32-bit key (TKeyChains), apart from the tokens and
// their memories so that a node kind that indexes its own objects by key needs nothing else.
#pragma once

#include <cstdint>

#include <boost/unordered/unordered_flat_map.hpp>

namespace ie {

// Chains of intrusively linked nodes by a 32-bit key, each chain in arrival order (oldest
// first): a flat map from key to the chain's first node. It serves the terminal nodes' identity
// index of activations (the token memories chain their entries in a table of their own, see
// TIETokenTree). `Links` names the node's two link fields: static P*& Prev(TNode&) and Next, where
// P is TNode or a base of it (a node may keep its links in a base it shares with other lists).
template <class TNode, class Links> class TKeyChains {
public:
    TNode* First(int32_t key) const noexcept {
        const auto it = FMap.find(key);
        return it == FMap.end() ? nullptr : it->second;
    }
    // Appends the node to its key's chain; returns the chain's first node before (null for a
    // new key).
    TNode* Append(int32_t key, TNode& node) {
        auto it = FMap.find(key);
        Links::Next(node) = nullptr;
        if (it == FMap.end()) {
            // Keys come and go as chains empty and fill again (see FlatTables.h).
            MakeRoomToInsert(FMap);
            FMap.emplace(key, &node);
            Links::Prev(node) = &node;
            return nullptr;
        }
        TNode* first = it->second;
        TNode* last = static_cast<TNode*>(Links::Prev(*first));
        Links::Prev(node) = last;
        Links::Next(*last) = &node;
        Links::Prev(*first) = &node;
        return first;
    }
    // Unlinks a node of the chain of `key`; a chain left empty goes.
    void Unlink(int32_t key, TNode& node) noexcept {
        TNode* before = static_cast<TNode*>(Links::Prev(node));
        TNode* after = static_cast<TNode*>(Links::Next(node));
        // A node inside its chain (neither first, whose Prev is the last node, nor last) leaves
        // the chain's head as it is: no lookup.
        if (before && after && Links::Next(*before) == &node) {
            Links::Next(*before) = after;
            Links::Prev(*after) = before;
            Links::Prev(node) = nullptr;
            Links::Next(node) = nullptr;
            return;
        }
        const auto it = FMap.find(key);
        if (it == FMap.end()) return;
        TNode* first = it->second;
        TNode* prev = static_cast<TNode*>(Links::Prev(node));
        TNode* next = static_cast<TNode*>(Links::Next(node));
        if (&node == first) {
            if (next) {
                Links::Prev(*next) = prev; // the last node
                it->second = next;
            } else {
                FMap.erase(it);
            }
        } else {
            Links::Next(*prev) = next;
            (next ? Links::Prev(*next) : Links::Prev(*first)) = prev;
        }
        Links::Prev(node) = nullptr;
        Links::Next(node) = nullptr;
    }
    void Clear() noexcept { FMap.clear(); }
    template <class F> void ForEachKey(F&& f) const {
        for (const auto& [key, first] : FMap)
            f(key, first);
    }

private:
    // Each chain's first node; the chain runs on through Next, and the first node's Prev is the
    // last node (so that appending needs no second pointer per key).
    boost::unordered_flat_map<int32_t, TNode*> FMap;
};

} // namespace ie
