// The vocabulary's lookups and the expression texts of derived sets. Every word of every table is
// filed once in one hash table that records its index in each table it belongs to, since the
// reader looks up every item of an expression; an and-word and the or-word at the same position
// name the same operation, so the two tables must be kept in step.
#include "fuzzy/FuzzyConsts.h"

#include "platform/Format.h"

#include <unordered_map>

namespace ie {

namespace {

// Everything the vocabulary knows about one word; -1 where the word is not in a table. All the
// lookups go through one hash table, as the reader looks up every item of an expression.
struct TFuzzyWordInfo {
    int8_t Hedge = -1;
    int8_t Arith = -1;
    bool ArithOnY = false;
    int8_t AndOr = -1;
    bool IsOr = false;
    int8_t Operation = -1;
    int8_t Correlation = -1;
    int8_t Inference = -1;
};

const std::unordered_map<std::string_view, TFuzzyWordInfo>& FuzzyWords() {
    static const auto words = [] {
        std::unordered_map<std::string_view, TFuzzyWordInfo> table;
        for (int i = 0; i < FuzzyHedgeCount; ++i)
            table[FuzzyHedges[i]].Hedge = int8_t(i);
        for (int i = 0; i < FuzzyArithOperatorCount; ++i) {
            auto& plain = table[FuzzyArithOperators[i]];
            plain.Arith = int8_t(i);
            plain.ArithOnY = true;
        }
        // Position by position, so an and-word and an or-word of one operation are found alike.
        for (int i = 0; i < FuzzyOperationCount; ++i) {
            auto& orWord = table[FuzzyOrNames[i]];
            orWord.AndOr = int8_t(i);
            orWord.IsOr = true;
            table[FuzzyAndNames[i]].AndOr = int8_t(i);
            table[FuzzyOperationNames[i]].Operation = int8_t(i);
        }
        for (size_t i = 0; i < FuzzyCorrelationNames.size(); ++i)
            table[FuzzyCorrelationNames[i]].Correlation = int8_t(i);
        for (size_t i = 0; i < FuzzyInferenceNames.size(); ++i)
            table[FuzzyInferenceNames[i]].Inference = int8_t(i);
        return table;
    }();
    return words;
}

const TFuzzyWordInfo* FindWord(std::string_view word) {
    const auto& words = FuzzyWords();
    auto it = words.find(word);
    return it == words.end() ? nullptr : &it->second;
}

// The "X" form of an operator word: the word followed directly by a capital X.
int ArithXIndex(std::string_view word) {
    if (word.size() < 2 || word.back() != 'X') return -1;
    const TFuzzyWordInfo* info = FindWord(word.substr(0, word.size() - 1));
    return info ? info->Arith : -1;
}

bool HasBlank(std::string_view text) {
    return text.find(' ') != std::string_view::npos;
}

// The text, enclosed in brackets when it contains a blank.
void AppendOperand(std::string& out, std::string_view text) {
    if (HasBlank(text)) {
        out += FuzzyOpenBracket;
        out += text;
        out += FuzzyCloseBracket;
    } else {
        out += text;
    }
}

} // namespace

std::string_view FuzzyOperationEnumName(TFuzzyOperation op) {
    static constexpr std::array<std::string_view, FuzzyOperationCount> names = {
        "foZadeh", "foMean", "foMeanSqr", "foMeanSqrt", "foProduct", "foBoundedSum", "foSum"};
    return op < FuzzyOperationCount ? names[op] : std::string_view("foUnknown");
}

bool IsFuzzyHedge(std::string_view word) {
    const TFuzzyWordInfo* info = FindWord(word);
    return info && info->Hedge >= 0;
}

bool FuzzyHedgeIndex(std::string_view word, int& index) {
    const TFuzzyWordInfo* info = FindWord(word);
    if (!info || info->Hedge < 0) return false;
    index = info->Hedge;
    return true;
}

bool FuzzyOperationIndex(std::string_view word, TFuzzyOperation& op) {
    const TFuzzyWordInfo* info = FindWord(word);
    if (!info || info->Operation < 0) return false;
    op = TFuzzyOperation(info->Operation);
    return true;
}

bool FuzzyCorrelationIndex(std::string_view word, TFuzzyCorrelationMethod& method) {
    const TFuzzyWordInfo* info = FindWord(word);
    if (!info || info->Correlation < 0) return false;
    method = TFuzzyCorrelationMethod(info->Correlation);
    return true;
}

bool FuzzyInferenceIndex(std::string_view word, TFuzzyInferenceMethod& method) {
    const TFuzzyWordInfo* info = FindWord(word);
    if (!info || info->Inference < 0) return false;
    method = TFuzzyInferenceMethod(info->Inference);
    return true;
}

bool IsFuzzyArithOperator(std::string_view word) {
    int index;
    bool onY;
    return FuzzyArithOperatorIndex(word, index, onY);
}

bool FuzzyArithOperatorIndex(std::string_view word, int& index, bool& onY) {
    const TFuzzyWordInfo* info = FindWord(word);
    if (info && info->Arith >= 0) {
        index = info->Arith;
        onY = true;
        return true;
    }
    int x = ArithXIndex(word);
    if (x < 0) return false;
    index = x;
    onY = false;
    return true;
}

bool FuzzyAndOrIndex(std::string_view word, bool& isOr, TFuzzyOperation& op) {
    const TFuzzyWordInfo* info = FindWord(word);
    if (!info || info->AndOr < 0) return false;
    isOr = info->IsOr;
    op = TFuzzyOperation(info->AndOr);
    return true;
}

bool IsFuzzyReservedWord(std::string_view word) {
    const TFuzzyWordInfo* info = FindWord(word);
    if (info && (info->Hedge >= 0 || info->Arith >= 0 || info->AndOr >= 0)) return true;
    return ArithXIndex(word) >= 0;
}

TFuzzyOperation FuzzyInferenceOperation(TFuzzyInferenceMethod method) {
    switch (method) {
    case fimAdditive:
        return foSum;
    case fimMean:
        return foMean;
    case fimProduct:
        return foProduct;
    case fimBoundedSum:
        return foBoundedSum;
    case fimMinMax:
        break;
    }
    return foZadeh;
}

std::string BracketFuzzyText(std::string_view text) {
    size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ')
        --last;
    std::string_view trimmed = text.substr(first, last - first);
    if (!HasBlank(trimmed)) return std::string(trimmed);
    if (trimmed.front() == '[') {
        // Enclosed as a whole only when the opening bracket closes at the very end.
        int depth = 0;
        for (size_t i = 0; i < trimmed.size(); ++i) {
            if (trimmed[i] == '[') {
                ++depth;
            } else if (trimmed[i] == ']' && --depth == 0) {
                if (i + 1 == trimmed.size()) return std::string(trimmed);
                break;
            }
        }
    }
    std::string result;
    result.reserve(text.size() + 2);
    result += FuzzyOpenBracket;
    result += text;
    result += FuzzyCloseBracket;
    return result;
}

std::string FuzzyHedgeText(int hedge, std::string_view name) {
    std::string result(hedge >= 0 && hedge < FuzzyHedgeCount ? FuzzyHedges[hedge] : "");
    result += ' ';
    AppendOperand(result, name);
    return result;
}

std::string FuzzyArithText(int op, bool onY, std::string_view name) {
    std::string result(op >= 0 && op < FuzzyArithOperatorCount ? FuzzyArithOperators[op] : "");
    result += onY ? " " : "X ";
    AppendOperand(result, name);
    return result;
}

std::string FuzzyArithValueText(std::string_view a, std::string_view b, TFzyFloat value) {
    std::string result;
    AppendOperand(result, a);
    result += ' ';
    result += b;
    result += ' ';
    result += Format(FuzzyFloatFormat, value);
    return result;
}

std::string FuzzyOperationText(std::string_view a, std::string_view b, std::string_view op) {
    std::string result;
    AppendOperand(result, a);
    result += ' ';
    result += op;
    result += ' ';
    AppendOperand(result, b);
    return result;
}

} // namespace ie
