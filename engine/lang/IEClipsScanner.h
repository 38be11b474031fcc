// The rule-language scanner (TIEClipsStream), the engine's default stream class: characters in,
// tokens out.
//
// The tokens of one top-level form are read ahead onto the push-back stack (first token on top),
// so the parser can put back any number of them; every line end (CR LF, LF or a lone CR) counts
// one line, wherever it stands; the blanks and comments before a token are kept on it. A form
// that starts with ")" is that one token, so a stray ")" never swallows the next form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "engine/lang/IEParser.h"

namespace ie {

class TIEClipsStream : public TIETokenizerStream {
public:
    explicit TIEClipsStream(TStream* stream);

    // Starts over on another stream (or none) exactly as a newly made scanner would, keeping
    // only the buffer memory: whatever the former stream left unread is dropped.
    void Rebind(TStream* stream);

    // TIETokenizerStream
    void Reset() override;
    void SkipLine() override;
    void SkipToBalance() override;
    TStreamTokenRef NextToken() override;
    void PushBack(const TStreamTokenRef& token) override;
    std::string PeekKeyword() override;
    TStreamTokenRef CurrentToken() override;
    std::string History() const override;
    int32_t CurrentLine() const override { return FCurrentLine; }

    // TGTextStream, with line counting and white-space capture.
    char ReadChar() override;
    bool SkipBlanks() override;
    void ReadLn(std::string& line) override;

    // One token from the characters (no read-ahead, no push back).
    TStreamTokenRef ReadToken();
    // Parenthesis depth of the tokens handed out in the current form.
    int32_t Depth() const { return FDepth; }

private:
    static constexpr int EndOfData = -1;

    int GetByte();
    void UngetByte(int c);
    void ReadRestOfLine(std::string& line);
    void ReadAhead();
    TRefPtr<TIEStreamToken> MakeWordToken(int32_t line);
    TRefPtr<TIEStreamToken> NewToken(int32_t dataType, int32_t line);
    // Ends the finished form's history and keeps for reuse its tokens nobody holds any more.
    void RecycleFormTokens();
    std::string GenerateName(std::string_view prefix);
    // The text block of an atom read before, or a new one remembered for the atoms to come.
    TRefPtr<TIEText> SharedAtomText(std::string_view text);

    std::vector<TStreamTokenRef> FPushBack;   // the top (back) is the next token
    std::vector<TStreamTokenRef> FFormTokens; // handed out in the current form, in order
    TStreamTokenRef FLastToken;
    // The tokens made since the last form began (up to MaxSpareTokens), and those of them that
    // nobody held any more when the next began: NewToken hands these out again, so reading a
    // form allocates no token objects once the scanner has read a form as long before.
    static constexpr size_t MaxSpareTokens = 1024;
    std::vector<TRefPtr<TIEStreamToken>> FMadeTokens;
    std::vector<TRefPtr<TIEStreamToken>> FSpareTokens;
    std::string FLexeme;
    std::string FSource; // the word as written, kept only when it held an escape
    std::string FPendingWhiteSpace;
    // Atom texts read, so that the facts of a long read share them (a few bytes per value
    // instead of a block each). Bounded: when full it starts over.
    static constexpr size_t MaxSharedAtomTexts = 4096;
    struct TTextHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>()(s);
        }
    };
    boost::unordered_flat_map<std::string, TRefPtr<TIEText>, TTextHash, std::equal_to<>> FAtomTexts;
    int32_t FCurrentLine = 1;
    int32_t FDepth = 0;
    int64_t FOwnSymbolCounter = 0;
    // Line bookkeeping of the last byte read, so that putting it back can undo it.
    bool FAfterCR = false;
    bool FPrevAfterCR = false;
    bool FLastCounted = false;
};

} // namespace ie
