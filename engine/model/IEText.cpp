// Interned text blocks: the table of live blocks by their text.
//
// Invariant: a text lives in exactly one block while any value holds it, so equal texts compare
// by block address; the table of live blocks is never destroyed, since static values may outlive
// it.
#include "engine/model/IEText.h"

#include <boost/unordered/unordered_flat_set.hpp>

#include "engine/model/FlatTables.h"
#include "engine/model/IEHelperFunctions.h"

namespace ie {

namespace {

// The live text blocks by their text. HashString samples long texts, so the table hashes every
// character. Texts are made and freed on the engine's one thread.
struct TTextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>()(text);
    }
    size_t operator()(const TIEText* block) const noexcept { return (*this)(block->Text()); }
};
struct TTextEqual {
    using is_transparent = void;
    bool operator()(const TIEText* a, const TIEText* b) const noexcept { return a == b; }
    bool operator()(std::string_view a, const TIEText* b) const noexcept { return a == b->Text(); }
    bool operator()(const TIEText* a, std::string_view b) const noexcept { return a->Text() == b; }
};
using TTextTable = boost::unordered_flat_set<const TIEText*, TTextHash, TTextEqual>;

// Never destroyed: blocks held by static objects may outlive every other static.
TTextTable& LiveTexts() {
    static TTextTable* table = new TTextTable();
    return *table;
}

} // namespace

TIEText::TIEText(std::string_view text) : FText(text), FHash(HashString(text)) {}

TIEText::~TIEText() {
    if (!FText.empty()) LiveTexts().erase(static_cast<const TIEText*>(this));
}

TRefPtr<TIEText> TIEText::Make(std::string_view text) {
    if (text.empty()) return Empty();
    TTextTable& table = LiveTexts();
    if (auto it = table.find(text); it != table.end())
        return TRefPtr<TIEText>(const_cast<TIEText*>(*it));
    TRefPtr<TIEText> block(new TIEText(text));
    // Texts come and go with the facts that hold them.
    MakeRoomToInsert(table);
    table.insert(block.get());
    return block;
}

size_t TIEText::InternedCount() noexcept {
    return LiveTexts().size();
}

const TRefPtr<TIEText>& TIEText::Empty() {
    static const TRefPtr<TIEText> empty(new TIEText(std::string_view()));
    return empty;
}

} // namespace ie
