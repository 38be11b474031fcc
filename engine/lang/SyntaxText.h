// What the units of the rule-language reader and writer share, for engine/lang alone: the
// writers' line end and indentation, quoting, trimming and comment lines, the readers' keyword
// test, and the type words and clauses that both slots (TemplateSyntax) and types (TypeSyntax)
// write.
#pragma once

#include <string>
#include <string_view>

#include "engine/lang/IEParser.h"
#include "engine/model/IEConsts.h"

namespace ie {

class IIEDefinedType;

// ---------------------------------------------------------------------------------------------
// Writing

inline const std::string CRLF(IELineEnd);
inline const std::string Indent(IEIndent);

// A construct comment between double quotes, its quotes and backslashes escaped so that it
// reads back unchanged.
inline std::string QuotedComment(std::string_view text) {
    std::string r;
    r.reserve(text.size() + 2);
    r += '"';
    for (char c : text) {
        if (c == '"' || c == '\\') r += '\\';
        r += c;
    }
    r += '"';
    return r;
}

// The text without the blanks and control characters at both ends.
inline std::string_view TrimText(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ')
        --e;
    return text.substr(b, e - b);
}

inline std::string TrimmedText(std::string_view text) {
    return std::string(TrimText(text));
}

// Comment lines as calls and patterns carry them: each non-empty line, "; " in front unless it
// is a comment already, each followed by CR LF.
inline std::string CommentLines(std::string_view comment) {
    std::string r;
    size_t p = 0;
    while (p <= comment.size()) {
        size_t e = comment.find_first_of("\r\n", p);
        if (e == std::string_view::npos) e = comment.size();
        const std::string line = TrimmedText(comment.substr(p, e - p));
        if (!line.empty()) {
            if (line[0] != ';') r += "; ";
            r += line;
            r += CRLF;
        }
        if (e >= comment.size()) break;
        p = e + 1;
    }
    return r;
}

// Type words of a kind set that read back to the same set: the single-slot set is ?VARIABLE;
// kinds that every slot takes anyway and the multislot markers are left out (TypeSyntax).
std::string TypeWords(TIETypes types);
// The clause lines of a type that has no fuzzy variable; clauses the ancestor writes alike are
// left out (TypeSyntax).
std::string TypeClauses(const IIEDefinedType& type);

// ---------------------------------------------------------------------------------------------
// Reading

inline bool IsAtom(const IStreamToken& token, std::string_view text) {
    return token.GetDataType() == dtAtom && token.GetText() == text && !token.IsEscapedWord();
}

} // namespace ie
