// Interned text blocks: the immutable text a value of a textual kind holds, shared by every
// value of the same text and carrying its hash.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/RefCounted.h"

namespace ie {

// An immutable text shared by the values that hold it, with its HashString computed once.
// Texts are interned: while a block of some text is alive, Make returns that block, so equal
// atoms, strings and names hold one block and compare by address.
class TIEText final : public TRefCounted {
public:
    static TRefPtr<TIEText> Make(std::string_view text);
    // The one shared empty text.
    static const TRefPtr<TIEText>& Empty();
    // The number of distinct non-empty texts alive.
    static size_t InternedCount() noexcept;

    const std::string& Text() const noexcept { return FText; }
    int32_t Hash() const noexcept { return FHash; }
    bool SameText(const TIEText& other) const noexcept {
        // Interning makes equal texts one block; the text comparison is only a safety net.
        return this == &other || (FHash == other.FHash && FText == other.FText);
    }

private:
    explicit TIEText(std::string_view text);
    ~TIEText() override;
    const std::string FText;
    const int32_t FHash;
};

} // namespace ie
