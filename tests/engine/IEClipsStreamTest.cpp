#include "engine/lang/IEClipsParser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>

#include "engine/model/IEValue.h"
#include "platform/Streams.h"

using namespace ie;

namespace {

// A scanner over a text it owns.
struct Scanner {
    explicit Scanner(std::string_view text)
        : Source(std::make_unique<TStringStream>(text)),
          Stream(std::make_unique<TIEClipsStream>(Source.get())) {}
    TStreamTokenRef Next() { return Stream->NextToken(); }
    std::unique_ptr<TStringStream> Source;
    std::unique_ptr<TIEClipsStream> Stream;
};

// The i-th generated word, "w<i>" (built by appending: gcc 12 takes "w" + text for an
// overlapping copy).
std::string Word(int i) {
    std::string word = "w";
    word += std::to_string(i);
    return word;
}

// Every token of a text up to the end of input.
std::vector<TStreamTokenRef> Tokens(std::string_view text) {
    Scanner s(text);
    std::vector<TStreamTokenRef> tokens;
    for (;;) {
        TStreamTokenRef t = s.Next();
        if (t->IsEndOfInput()) return tokens;
        tokens.push_back(t);
    }
}

} // namespace

TEST(IEClipsStreamTest, VariablesCommentsAndWhiteSpace) {
    Scanner s("(a ?x $?y ? $? ;c\nb)");
    auto t = s.Next();
    EXPECT_TRUE(t->Is('('));
    EXPECT_EQ(t->GetText(), "(");
    t = s.Next();
    EXPECT_EQ(t->GetDataType(), dtAtom);
    EXPECT_EQ(t->GetText(), "a");
    t = s.Next();
    EXPECT_EQ(t->GetDataType(), dtVariable);
    EXPECT_EQ(t->GetText(), "x");
    EXPECT_EQ(t->AsString(), "?x");
    t = s.Next();
    EXPECT_EQ(t->GetDataType(), dtMultiVariable);
    EXPECT_EQ(t->GetText(), "y");
    EXPECT_EQ(t->AsString(), "$?y");
    t = s.Next();
    EXPECT_EQ(t->GetDataType(), dtVariable);
    EXPECT_EQ(t->GetText(), "_blank_0");
    t = s.Next();
    EXPECT_EQ(t->GetDataType(), dtMultiVariable);
    EXPECT_EQ(t->GetText(), "_blank_$1");
    t = s.Next();
    EXPECT_EQ(t->GetText(), "b");
    EXPECT_EQ(t->GetLineNumber(), 2);
    EXPECT_EQ(t->GetWhiteSpace(), ";c\r\n");
    t = s.Next();
    EXPECT_TRUE(t->Is(')'));
    EXPECT_EQ(t->GetLineNumber(), 2);
}

TEST(IEClipsStreamTest, GeneratedNamesComeFromTheEngine) {
    struct Counter : ISymbolGenerator {
        std::string GenerateSymbol(std::string_view prefix) override {
            return std::string(prefix) + IntToStr(N++);
        }
        int N = 41;
    } counter;
    Scanner s("? $?");
    s.Stream->SetEngine(&counter);
    EXPECT_EQ(s.Next()->GetText(), "_blank_41");
    EXPECT_EQ(s.Next()->GetText(), "_blank_$42");
}

TEST(IEClipsStreamTest, PunctuationAndWords) {
    auto t = Tokens("=>");
    ASSERT_EQ(t.size(), 2u);
    EXPECT_TRUE(t[0]->Is('='));
    EXPECT_EQ(t[1]->GetDataType(), dtAtom);
    EXPECT_EQ(t[1]->GetText(), ">");

    t = Tokens("<-");
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0]->GetText(), "<-");

    t = Tokens("a&b");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0]->GetText(), "a");
    EXPECT_TRUE(t[1]->Is('&'));
    EXPECT_EQ(t[2]->GetText(), "b");

    t = Tokens("x=y");
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0]->GetText(), "x=y");

    // "<" ends a word and begins the next one.
    t = Tokens("a<b|c~[d]");
    ASSERT_EQ(t.size(), 8u);
    EXPECT_EQ(t[0]->GetText(), "a");
    EXPECT_EQ(t[1]->GetText(), "<b");
    EXPECT_TRUE(t[2]->Is('|'));
    EXPECT_EQ(t[3]->GetText(), "c");
    EXPECT_TRUE(t[4]->Is('~'));
    EXPECT_TRUE(t[5]->Is('['));
    EXPECT_EQ(t[6]->GetText(), "d");
    EXPECT_TRUE(t[7]->Is(']'));

    // A backslash takes the next character into the word, a blank included.
    t = Tokens("x\\ y");
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0]->GetText(), "x y");
}

// A word whose first character is escaped is a symbol of its text, whatever it spells; a
// backslash that ends the data is a word of itself.
TEST(IEClipsStreamTest, EscapedFirstCharacterMakesASymbol) {
    const auto t = Tokens("\\12 \\?x \\$?y \\nil \\( \\0x10 \\1.5 \\\\a \\ b \\");
    const std::vector<std::string> texts = {"12",   "?x",  "$?y", "nil", "(",
                                            "0x10", "1.5", "\\a", " b",  "\\"};
    ASSERT_EQ(t.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(t[i]->GetDataType(), dtAtom) << texts[i];
        EXPECT_EQ(t[i]->GetText(), texts[i]);
        const TRefPtr<IIEValue> value = t[i]->ToValue();
        EXPECT_EQ(value->GetDType(), dtAtom) << texts[i];
        EXPECT_EQ(value->AsAtom(), texts[i]) << "nil escaped is no empty symbol";
        EXPECT_EQ(t[i]->IsEscapedWord(), i + 1 < texts.size()) << texts[i];
    }
    EXPECT_EQ(Tokens("nil")[0]->ToValue().get(), IEEmptyAtom().get());
}

// Every symbol text has a written word, and the word reads back to that symbol alone: in a form
// whose tokens are made while it is read ahead and from its text later, and token by token as
// read takes them.
TEST(IEClipsStreamTest, EverySymbolWordReadsBack) {
    std::mt19937 random(43);
    const std::string chars = "()\"\\;?$ \t\r\n=&|~[]<>:0x1e.+-aNIl9";
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> texts;
        std::string form = "(f";
        for (int k = 0, n = 1 + static_cast<int>(random() % 60); k < n; ++k) {
            std::string text;
            for (size_t i = 0, m = 1 + random() % 5; i < m; ++i)
                text += chars[random() % chars.size()];
            if (random() % 8 == 0) text = random() % 2 ? "nil" : "0x80000000";
            std::string word;
            ASSERT_TRUE(SymbolWord(text, word)) << text;
            texts.push_back(text);
            form += " " + word;
        }
        form += ")";
        auto t = Tokens(form);
        ASSERT_EQ(t.size(), texts.size() + 3) << form;
        Scanner lines(form.substr(3, form.size() - 4));
        for (size_t i = 0; i < texts.size(); ++i) {
            const TRefPtr<IIEValue> value = t[i + 2]->ToValue();
            ASSERT_EQ(value->GetDType(), dtAtom) << form << " [" << texts[i] << "]";
            ASSERT_EQ(value->AsAtom(), texts[i]) << form;
            const TStreamTokenRef one = lines.Stream->NextLineToken();
            ASSERT_EQ(one->ToValue()->AsAtom(), texts[i]) << form;
        }
    }
    std::string word;
    EXPECT_FALSE(SymbolWord("", word)) << "the empty symbol is written nil";
}

TEST(IEClipsStreamTest, Numbers) {
    struct Case {
        const char* text;
        int32_t kind;
        double number;
    };
    const Case cases[] = {
        {"12", dtInteger, 12},
        {"007", dtInteger, 7},
        {"-0", dtInteger, 0},
        {"999999999", dtInteger, 999999999},
        {"+.5", dtFloat, 0.5},
        {"0x1F", dtInteger, 31},
        {"0x7FFFFFFF", dtInteger, 2147483647.0},
        {"-0x80000000", dtInteger, -2147483648.0},
        // Beyond the 32-bit integers a hexadecimal number is a float, as a decimal one is: it
        // never wraps to another sign.
        {"0x80000000", dtFloat, 2147483648.0},
        {"0xFFFFFFFF", dtFloat, 4294967295.0},
        {"-0x80000001", dtFloat, -2147483649.0},
        {"0X10000000000000001", dtFloat, 18446744073709551616.0},
        {"-7", dtInteger, -7},
        {"+7", dtInteger, 7},
        {"2147483647", dtInteger, 2147483647.0},
        {"-2147483648", dtInteger, -2147483648.0},
        {"2147483648", dtFloat, 2147483648.0},
        {"99999999999", dtFloat, 99999999999.0},
        {"12.5", dtFloat, 12.5},
        {"1e3", dtFloat, 1000},
        {"1E-2", dtFloat, 0.01},
        {".5", dtFloat, 0.5},
        {"-.5", dtFloat, -0.5},
        {"5.", dtFloat, 5},
        {"1e-999", dtFloat, 0},
    };
    for (const Case& c : cases) {
        auto t = Tokens(c.text);
        ASSERT_EQ(t.size(), 1u) << c.text;
        EXPECT_EQ(t[0]->GetDataType(), c.kind) << c.text;
        EXPECT_EQ(t[0]->GetNumber(), c.number) << c.text;
        EXPECT_EQ(t[0]->GetText(), "") << c.text;
    }
    // Digits and decimals of up to 18 digits, the point anywhere or nowhere, read exactly as
    // the C library reads them (an integer when it fits 32 bits, else the same double, bit for
    // bit).
    std::mt19937 random(7);
    for (int i = 0; i < 4000; ++i) {
        const size_t digits = 1 + random() % 18;
        const size_t point = random() % (digits + 2); // digits + 1: none
        std::string text = random() % 3 == 0 ? "-" : "";
        for (size_t k = 0; k <= digits; ++k) {
            if (k == point) text += '.';
            if (k < digits)
                text +=
                    static_cast<char>('0' + (k == 0 && i % 2 == 0 ? random() % 2 : random() % 10));
        }
        auto t = Tokens(text);
        ASSERT_EQ(t.size(), 1u) << text;
        const long long whole = std::strtoll(text.c_str(), nullptr, 10);
        if (point > digits && whole >= INT32_MIN && whole <= INT32_MAX) {
            ASSERT_EQ(t[0]->GetDataType(), dtInteger) << text;
            ASSERT_EQ(t[0]->GetNumber(), static_cast<double>(whole)) << text;
            continue;
        }
        ASSERT_EQ(t[0]->GetDataType(), dtFloat) << text;
        const double expected = std::strtod(text.c_str(), nullptr);
        const double number = t[0]->GetNumber();
        ASSERT_EQ(std::memcmp(&number, &expected, sizeof number), 0) << text;
    }
    for (const char* atom :
         {"-", "+", ".", "-x", "1abc", "1e", "1e+", "0x", "0xG", "1e999", "--1", "1.2.3", "+-"}) {
        auto t = Tokens(atom);
        ASSERT_EQ(t.size(), 1u) << atom;
        EXPECT_EQ(t[0]->GetDataType(), dtAtom) << atom;
        EXPECT_EQ(t[0]->GetText(), atom);
    }
}

TEST(IEClipsStreamTest, DisplayText) {
    auto t = Tokens("\"a b\" 0x1F 2.5 ?v $?m foo");
    ASSERT_EQ(t.size(), 6u);
    EXPECT_EQ(t[0]->AsString(), "\\\"a b\"\\");
    EXPECT_EQ(t[1]->AsString(), "31");
    EXPECT_EQ(t[2]->AsString(), "2.5000");
    EXPECT_EQ(t[3]->AsString(), "?v");
    EXPECT_EQ(t[4]->AsString(), "$?m");
    EXPECT_EQ(t[5]->AsString(), "foo");
    // What error messages show: the text as written.
    EXPECT_EQ(t[0]->SourceText(), "\"a b\"");
    EXPECT_EQ(t[1]->SourceText(), "0x1F");
    EXPECT_EQ(t[2]->SourceText(), "2.5");
}

TEST(IEClipsStreamTest, StringsWithEscapes) {
    auto t = Tokens(R"("a\"b" "c\\d" "e\xf" "")");
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0]->GetDataType(), dtString);
    EXPECT_EQ(t[0]->GetText(), "a\"b");
    EXPECT_EQ(t[1]->GetText(), "c\\d");
    EXPECT_EQ(t[2]->GetText(), "exf");
    EXPECT_EQ(t[3]->GetText(), "");
    EXPECT_EQ(t[0]->SourceText(), R"("a\"b")");
}

TEST(IEClipsStreamTest, UnterminatedStringRaises) {
    for (const char* text : {"\"abc", "\"abc\\", "(printout t \"x)"}) {
        Scanner s(text);
        try {
            for (int i = 0; i < 10; ++i)
                s.Next();
            FAIL() << text;
        } catch (const EIEParseException& e) {
            EXPECT_STREQ(e.what(), "Invalid string value, string was not terminated");
            EXPECT_EQ(e.LineNumber(), 1);
        }
    }
}

TEST(IEClipsStreamTest, LineNumbers) {
    // CR LF, LF and a lone CR each end one line, also inside strings and comments.
    auto t = Tokens("a\r\nb\nc\rd ; note\r\ne \"x\ny\" f\n\n\ng");
    ASSERT_EQ(t.size(), 8u);
    // A string takes the line on which it ends.
    const int lines[] = {1, 2, 3, 4, 5, 6, 6, 9};
    for (size_t i = 0; i < t.size(); ++i)
        EXPECT_EQ(t[i]->GetLineNumber(), lines[i]) << i;
    // A word ended by a line end keeps the line of the word.
    t = Tokens("(a\n)");
    EXPECT_EQ(t[1]->GetLineNumber(), 1);
    EXPECT_EQ(t[2]->GetLineNumber(), 2);
}

TEST(IEClipsStreamTest, EndOfInput) {
    Scanner s("");
    for (int i = 0; i < 3; ++i) {
        auto t = s.Next();
        EXPECT_TRUE(t->IsEndOfInput());
        EXPECT_EQ(t->GetText(), "EOF");
        EXPECT_EQ(t->GetLineNumber(), 1);
    }
    Scanner w("word");
    EXPECT_EQ(w.Next()->GetText(), "word");
    EXPECT_TRUE(w.Next()->IsEndOfInput());
    EXPECT_TRUE(w.Next()->IsEndOfInput());
}

TEST(IEClipsStreamTest, HistoryIsTheTextOfTheForm) {
    Scanner s("(a (b \"q\\\"\" 0x10)\n  c) (next)");
    for (int i = 0; i < 9; ++i)
        s.Next();
    EXPECT_EQ(s.Stream->History(), "( a ( b \"q\\\"\" 0x10 ) \r\nc ) ");
    // Reading the next form starts the history again.
    s.Next();
    EXPECT_EQ(s.Stream->History(), "( ");
}

TEST(IEClipsStreamTest, PushBackAnyNumberOfTokens) {
    Scanner s("(a b c) d");
    std::vector<TStreamTokenRef> taken;
    for (int i = 0; i < 4; ++i)
        taken.push_back(s.Next());
    EXPECT_EQ(s.Stream->Depth(), 1);
    for (auto it = taken.rbegin(); it != taken.rend(); ++it)
        s.Stream->PushBack(*it);
    EXPECT_EQ(s.Stream->Depth(), 0);
    EXPECT_EQ(s.Stream->History(), "");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(s.Next(), taken[i]);
    EXPECT_EQ(s.Stream->History(), "( a b c ");
    EXPECT_TRUE(s.Next()->Is(')'));
    EXPECT_EQ(s.Next()->GetText(), "d");
}

TEST(IEClipsStreamTest, PeekKeyword) {
    Scanner s("(defrule x) (= 1) (?v) (\"s\") a");
    EXPECT_EQ(s.Stream->PeekKeyword(), "defrule");
    EXPECT_TRUE(s.Next()->Is('('));
    EXPECT_EQ(s.Next()->GetText(), "defrule");
    s.Next();
    s.Next();
    EXPECT_EQ(s.Stream->PeekKeyword(), "=");
    for (int i = 0; i < 4; ++i)
        s.Next();
    EXPECT_EQ(s.Stream->PeekKeyword(), "v");
    for (int i = 0; i < 3; ++i)
        s.Next();
    EXPECT_EQ(s.Stream->PeekKeyword(), "");
    for (int i = 0; i < 3; ++i)
        s.Next();
    // Not a "(": the token is consumed.
    EXPECT_EQ(s.Stream->PeekKeyword(), "");
    EXPECT_TRUE(s.Next()->IsEndOfInput());
}

TEST(IEClipsStreamTest, StrayCloseParenIsAFormByItself) {
    Scanner s(") (foo)");
    EXPECT_TRUE(s.Next()->Is(')'));
    // Recovery after the stray ")" must not eat into the next form.
    s.Stream->SkipToBalance();
    EXPECT_TRUE(s.Next()->Is('('));
    EXPECT_EQ(s.Next()->GetText(), "foo");
    EXPECT_TRUE(s.Next()->Is(')'));
    EXPECT_EQ(s.Stream->History(), "( foo ) ");
}

TEST(IEClipsStreamTest, SkipToBalanceEndsTheForm) {
    Scanner s("(a (b c) d) (e)");
    s.Next();
    s.Next();
    s.Stream->SkipToBalance();
    EXPECT_TRUE(s.Next()->Is('('));
    EXPECT_EQ(s.Next()->GetText(), "e");
    // A form cut off by the end of data: recovery stops at the end.
    Scanner cut("(a (b");
    cut.Next();
    cut.Stream->SkipToBalance();
    EXPECT_TRUE(cut.Next()->IsEndOfInput());
}

TEST(IEClipsStreamTest, SkipLineJoinsTheWhiteSpace) {
    Scanner s("a rest of line\nb");
    EXPECT_EQ(s.Next()->GetText(), "a");
    s.Stream->SkipLine();
    auto b = s.Next();
    EXPECT_EQ(b->GetText(), "b");
    EXPECT_EQ(b->GetLineNumber(), 2);
    EXPECT_EQ(b->GetWhiteSpace(), "rest of line\r\n");
}

TEST(IEClipsStreamTest, TokenEqualityAndCopies) {
    auto a = MakeRef<TIEStreamToken>(dtInteger, 3);
    a->SetNumber(5);
    a->SetText("five");
    a->SetWhiteSpace("  ");
    auto b = MakeRef<TIEStreamToken>(dtInteger, 3);
    b->SetNumber(5);
    EXPECT_TRUE(a->Equals(b.get()));
    b->SetLineNumber(4);
    EXPECT_FALSE(a->Equals(b.get()));
    auto c = RefCast<IStreamToken>(a->Clone());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->GetText(), "five");
    EXPECT_EQ(c->GetWhiteSpace(), "");
}

TEST(IEClipsStreamTest, TokensAsValues) {
    auto t = Tokens("TRUE FALSE NiL EOF word \"s\" 4 2.5 ?v $?m");
    EXPECT_EQ(t[0]->ToValue(), IETrueValue());
    EXPECT_EQ(t[1]->ToValue(), IEFalseValue());
    EXPECT_EQ(t[2]->ToValue(), IEEmptyAtom());
    EXPECT_EQ(t[3]->ToValue()->GetText(), "EOF");
    EXPECT_EQ(t[4]->ToValue()->GetDType(), dtAtom);
    EXPECT_EQ(t[5]->ToValue()->GetText(), "\"s\"");
    EXPECT_EQ(t[6]->ToValue()->AsInteger(), 4);
    EXPECT_EQ(t[7]->ToValue()->AsFloat(), 2.5);
    EXPECT_EQ(t[8]->ToValue()->GetText(), "?v");
    EXPECT_EQ(t[9]->ToValue()->GetText(), "$?m");
    Scanner end("");
    EXPECT_EQ(end.Next()->ToValue(), IEEOFAtom());

    auto back = MakeRef<TIEStreamToken>();
    back->AssignValue(*TIEValue::CreateFloat(1.25));
    EXPECT_EQ(back->GetDataType(), dtFloat);
    EXPECT_EQ(back->GetNumber(), 1.25);
    back->AssignValue(*TIEValue::CreateText(dtString, "x"));
    EXPECT_EQ(back->GetDataType(), dtString);
    EXPECT_EQ(back->GetText(), "x");
}

// Arbitrary bytes: the scanner ends every text with the end-of-input token or the one error of
// an unterminated string, in a number of steps bounded by the text's length.
TEST(IEClipsStreamTest, ArbitraryBytesNeverCrashOrHang) {
    std::mt19937 random(12345);
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 200, '\0');
        for (char& ch : text)
            ch = static_cast<char>(random() % 256);
        if (round % 3 == 0) // favour the characters that matter to the scanner
            for (char& ch : text)
                ch = "()\"\\;?$ \r\n=&|~[]<>0x1e.+-a"[random() % 27];
        Scanner s(text);
        size_t steps = 0;
        try {
            while (!s.Next()->IsEndOfInput())
                ASSERT_LE(++steps, text.size() + 1);
            s.Stream->SkipToBalance();
            (void)s.Stream->History();
        } catch (const EIEParseException& e) {
            EXPECT_STREQ(e.what(), "Invalid string value, string was not terminated");
        }
    }
}

// The atoms of a long read share one text block per distinct text; a token whose text is set
// afterwards (a reader rewriting it) makes values of its new text, and the sharing never mixes
// texts up, also past the scanner's bound on remembered texts.
TEST(IEClipsStreamTest, AtomValuesShareTheirTextBlocks) {
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += "same w" + std::to_string(i) + " ";
    text += "same \"same\"";
    const auto tokens = Tokens(text);
    ASSERT_EQ(tokens.size(), 10002u);
    const auto first = tokens[0]->ToValue();
    const auto last = tokens[10000]->ToValue();
    ASSERT_NE(dynamic_cast<TIEValue*>(first.get()), nullptr);
    EXPECT_EQ(dynamic_cast<TIEValue&>(*first).TextBlock(),
              dynamic_cast<TIEValue&>(*tokens[2]->ToValue()).TextBlock());
    EXPECT_EQ(last->AsAtom(), "same");
    for (int i = 0; i < 5000; ++i)
        ASSERT_EQ(tokens[2 * i + 1]->ToValue()->AsAtom(), Word(i));
    EXPECT_EQ(tokens[10001]->ToValue()->GetDType(), dtString);

    tokens[0]->SetText("other");
    EXPECT_EQ(tokens[0]->ToValue()->AsAtom(), "other");
    EXPECT_EQ(first->AsAtom(), "same");
}

TEST(IEClipsStreamTest, TokensKeptPastTheirFormStayAsTheyWere) {
    // The scanner reuses the token objects of a finished form: only those nobody holds.
    Scanner s("(first \"s\" 1.5 ?v)\n(second x y z w v u t)\n(third)");
    std::vector<TStreamTokenRef> kept;
    for (int i = 0; i < 6; ++i)
        kept.push_back(s.Next());
    for (int form = 0; form < 2; ++form)
        for (TStreamTokenRef t = s.Next(); !t->Is(')'); t = s.Next())
            ASSERT_FALSE(t->IsEndOfInput());
    EXPECT_EQ(kept[1]->GetText(), "first");
    EXPECT_EQ(kept[2]->GetDataType(), dtString);
    EXPECT_EQ(kept[2]->SourceText(), "\"s\"");
    EXPECT_EQ(kept[3]->GetNumber(), 1.5);
    EXPECT_EQ(kept[3]->SourceText(), "1.5");
    EXPECT_EQ(kept[4]->AsString(), "?v");
    EXPECT_TRUE(kept[5]->Is(')'));
    // A token let go of is handed out again as new: no text, white space or source of before.
    kept.clear();
    Scanner r("(\"a b\" 0x1F w\\(x) (y) (z)");
    for (int i = 0; i < 5; ++i)
        r.Next();
    auto t = r.Next();
    EXPECT_TRUE(t->Is('('));
    EXPECT_EQ(t->GetWhiteSpace(), " ");
    t = r.Next();
    EXPECT_EQ(t->GetText(), "y");
    EXPECT_EQ(t->SourceText(), "y");
    EXPECT_EQ(t->GetWhiteSpace(), "");
    r.Next();
    t = r.Next();
    t = r.Next();
    EXPECT_EQ(t->GetText(), "z");
    EXPECT_EQ(t->GetNumber(), 0.0);
    EXPECT_EQ(r.Stream->History(), "( z ");
}

TEST(IEClipsStreamTest, ALongFormIsMadeIntoTokensAsItIsRead) {
    // The objects of the tokens let go of are made again, so a long form needs few of them; the
    // history is still the whole form, with the tokens handed back taken out of it.
    std::string text = "(f";
    std::string history = "( f ";
    for (int i = 0; i < 3000; ++i) {
        text += ' ';
        text += Word(i);
        history += Word(i);
        history += ' ';
    }
    Scanner s(text + ")");
    std::set<const IStreamToken*> objects;
    for (int i = 0; i < 3002; ++i)
        objects.insert(s.Next().get());
    EXPECT_LT(objects.size(), 100u);
    auto close = s.Next();
    auto last = s.Stream->CurrentToken();
    s.Stream->PushBack(close);
    EXPECT_EQ(s.Stream->History(), history);
    EXPECT_EQ(s.Next(), close);
    EXPECT_EQ(s.Stream->History(), history + ") ");
    EXPECT_EQ(last, close);
}

TEST(IEClipsStreamTest, LongWordsAcrossTheReadBuffer) {
    // Words longer than the scanner's read-ahead buffer, and words that straddle its refills,
    // come out whole, escapes included, with their lines.
    const std::string longWord(20000, 'k');
    std::string text = "(" + longWord + " a\\ b" + std::string(8190, 'm') + "\\)z\r\nlast)";
    for (int i = 0; i < 3000; ++i)
        text += " w" + std::to_string(i);
    const auto t = Tokens(text);
    ASSERT_EQ(t.size(), 5u + 3000u);
    EXPECT_EQ(t[1]->GetText(), longWord);
    EXPECT_EQ(t[2]->GetText(), "a b" + std::string(8190, 'm') + ")z");
    EXPECT_EQ(t[2]->SourceText(), "a\\ b" + std::string(8190, 'm') + "\\)z");
    EXPECT_EQ(t[2]->GetLineNumber(), 1);
    EXPECT_EQ(t[3]->GetText(), "last");
    EXPECT_EQ(t[3]->GetLineNumber(), 2);
    for (int i = 0; i < 3000; ++i)
        ASSERT_EQ(t[5 + static_cast<size_t>(i)]->GetText(), Word(i));
}

TEST(IEClipsStreamTest, FormsAcrossTheReadBufferReadAsAnywhere) {
    // A form's tokens are made as it is read while they lie whole in the read buffer, and from
    // its text after that. Wherever a refill of the buffer falls in the form, its tokens (kind,
    // text, source, line, white space, generated names), its history and an unterminated
    // string's error are those of reading it token by token, with LF and CR LF line ends.
    // (Texts are built by appending: gcc 12 takes some concatenations for overlapping copies.)
    const auto describe = [](const IStreamToken& t) {
        std::string d = std::to_string(t.GetDataType());
        for (const std::string& part :
             {t.GetText(), t.SourceText(), std::to_string(t.GetLineNumber()), t.GetWhiteSpace()}) {
            d += '|';
            d += part;
        }
        return d;
    };
    for (const char* lineEnd : {"\n", "\r\n"}) {
        std::string form = "(f ?x $? ? \"s \\\" t\" ;note";
        form += lineEnd;
        form += " a\\ b 1.5 -3\r0x1F (g \"two";
        form += lineEnd;
        form += "lines\")";
        for (int i = 0; i < 40; ++i) {
            form += ' ';
            form += Word(i);
        }
        form += lineEnd;
        form += ")";
        for (size_t pad = 8190 - form.size(); pad <= 8192; ++pad) {
            std::string front = ";";
            front.append(pad - 2, 'p');
            front += '\n';
            Scanner plain(front + form + " (next)");
            Scanner ahead(front + form + " (next)");
            std::string history;
            int32_t lastLine = 0;
            for (int i = 0;; ++i) {
                const auto p = plain.Stream->ReadToken();
                const auto a = ahead.Next();
                ASSERT_EQ(describe(*a), describe(*p)) << pad << " token " << i;
                if (i > 0 && lastLine < p->GetLineNumber()) history += IELineEnd;
                history += p->SourceText();
                history += ' ';
                lastLine = p->GetLineNumber();
                if (ahead.Stream->Depth() == 0) break;
            }
            EXPECT_EQ(ahead.Stream->History(), history) << pad;
            EXPECT_EQ(describe(*ahead.Next()), describe(*plain.Stream->ReadToken())) << pad;

            std::string never = front;
            never += "(a b";
            never += lineEnd;
            never += "\"never)";
            Scanner broken(never);
            try {
                for (int i = 0; i < 5; ++i)
                    broken.Next();
                ADD_FAILURE() << pad;
            } catch (const EIEParseException& e) {
                EXPECT_STREQ(e.what(), "Invalid string value, string was not terminated");
                EXPECT_EQ(e.LineNumber(), 3) << pad;
                EXPECT_EQ(broken.Stream->History(), "( a b ") << pad;
            }
        }
    }
}
