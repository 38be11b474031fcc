// The rule-language scanner (TIEClipsStream), the engine's default stream class: characters in,
// tokens out.
//
// One top-level form is read ahead as text. The tokens
// of its front that lie whole in the stream's buffer are made as it is read (a short form is
// read once); the rest are made from the text as the parser asks for them, so a long form costs
// memory in proportion to its text; the parser can put back any number of tokens; every line end
// (CR LF, LF or a lone CR) counts one line, wherever it stands; the blanks and comments before a
// token are kept on it. A form that starts with ")" is that one token, so a stray ")" never
// swallows the next form.
#pragma once

#include <cstdint>
#include <cstring>
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
    TStreamTokenRef NextLineToken() override;
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
    struct TStreamIn;
    struct TTextIn;
    struct TBufferIn;
    TTextIn FormTextIn() const;
    // A run of the history: tokens of the current form by their places, or one token that was
    // not read from the form's text (handed back to the scanner from elsewhere).
    struct THistoryPart {
        uint32_t First = 0;
        uint32_t Count = 0;
        TStreamTokenRef Other;
    };

    int GetByte();
    void UngetByte(int c);
    void ReadRestOfLine(std::string& line);
    // Starts the next form: makes its first tokens, reads the rest as text.
    void ReadAhead();
    // Reads the text of the rest of the form from the stream, counting its parentheses as the
    // tokens will; `complete` counts the tokens read whole (the end of input included), `depth`
    // the parentheses open.
    void ReadFormText(uint32_t& complete, int32_t depth);
    // Makes the form's first tokens from the stream's buffer, as many as lie whole in it (at
    // most MaxMadeAhead) and keeps their text; true when the form ended among them.
    bool MakeTokensAhead(uint32_t& complete, int32_t& depth);
    // The bytes of one token from a source: its kind hint (EndOfData, 0 for a word, '"' for a
    // string, or the punctuation), the line it is given, the word or string contents in
    // `lexeme` and the text as written in `source` when it differs; blanks and comments before
    // it are appended to `whiteSpace`.
    template <class TIn>
    static int Lex(TIn& in, std::string& whiteSpace, std::string& lexeme, std::string& source,
                   int32_t& line);
    // Gives `token` the kind and payload of what Lex read (`lexeme` and `source` are moved into
    // it); true for an atom whose text may be shared with the atoms read before.
    template <class TIn>
    static bool FillToken(TIEStreamToken& token, int hint, std::string& lexeme, std::string& source,
                          TIn& in);
    template <class TIn> TRefPtr<TIEStreamToken> MakeToken(TIn& in, std::string& whiteSpace);
    TRefPtr<TIEStreamToken> NextFormToken();
    TRefPtr<TIEStreamToken> NextTextToken();
    TTextIn FormStart() const;
    TRefPtr<TIEStreamToken> NewToken(int32_t line, std::string& whiteSpace);
    bool IsOfForm(const IStreamToken& token, uint32_t& index) const;
    void AppendFormHistory(uint32_t index);
    std::string GenerateName(std::string_view prefix);
    // The text block of an atom read before, or a new one remembered for the atoms to come.
    TRefPtr<TIEText> SharedAtomText(std::string_view text);

    std::vector<TStreamTokenRef> FPushBack; // handed back; the top (back) is the next token
    TStreamTokenRef FLastToken;
    // The current form: its text, its tokens made as it was read, where the others are made
    // from and how many are still to come, the names given to its lone "?" and "$?" while it
    // was read, and its number.
    static constexpr size_t MaxMadeAhead = 32;
    std::vector<TRefPtr<TIEStreamToken>> FFormTokens;
    std::string FFormText;
    size_t FFormPos = 0;
    int32_t FFormLine = 1;
    bool FFormAfterCR = false;
    uint32_t FFormNext = 0; // the place of the next token handed out
    uint32_t FFormLeft = 0;
    size_t FFormNextName = 0;
    int32_t FFormStartLine = 1;
    bool FFormStartAfterCR = false;
    uint64_t FFormSerial = 0;
    std::vector<std::string> FFormNames;
    std::string FFormWhiteSpace;        // before the next token made from the text
    std::vector<THistoryPart> FHistory; // the tokens handed out in the current form, in order
    // The tokens made last, in turn: one that nobody else holds any more is made again from
    // the text instead of a new one, so reading allocates hardly any token objects.
    static constexpr size_t MadeTokenRing = 64;
    TRefPtr<TIEStreamToken> FMadeTokens[MadeTokenRing];
    size_t FMadeNext = 0;
    std::string FLexeme;
    std::string FSource; // the token as written, kept only where it differs from its display
    std::string FPendingWhiteSpace;
    // Atom texts read, so that the facts of a long read share them (a few bytes per value
    // instead of a block each). Bounded: when full it starts over.
    static constexpr size_t MaxSharedAtomTexts = 4096;
    struct TTextHash {
        using is_transparent = void;
        // Atoms are short: eight bytes a step, each folded in by one multiplication (the map
        // mixes the result further).
        size_t operator()(std::string_view s) const noexcept {
            uint64_t h = s.size();
            const char* p = s.data();
            size_t n = s.size();
            for (; n >= 8; p += 8, n -= 8) {
                uint64_t w = 0;
                std::memcpy(&w, p, 8);
                h = (h ^ w) * 0x9E3779B97F4A7C15ull;
                h ^= h >> 29;
            }
            if (n > 0) {
                uint64_t w = 0;
                std::memcpy(&w, p, n);
                h = (h ^ w) * 0x9E3779B97F4A7C15ull;
                h ^= h >> 29;
            }
            return static_cast<size_t>(h);
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
