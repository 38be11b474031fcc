// Saving and loading as a property over generated rule bases: a deterministic generator writes
// rule bases that use every construct (types with fuzzy variables, templates with every slot
// attribute and named types, rules with every conditional element and connective,
// deffunctions, globals, fact sets, facts, symbols that spell other tokens, lists duplicated into
// multislots), then changes some of them while rules use them; for each one, save, clear, load
// and save again must give the same text, and the saved facts must load back as the same facts.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/EngineTables.h"
#include "engine/InferenceEngine.h"
#include "engine/model/IEFacts.h"
#include "platform/Streams.h"

namespace ie {
namespace {

// A small generator with a fixed sequence on every platform (splitmix64).
class TDice {
public:
    explicit TDice(uint64_t seed) : FState(seed) {}
    uint32_t Next() {
        uint64_t z = (FState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
    }
    int Pick(int n) { return static_cast<int>(Next() % static_cast<uint32_t>(n)); }
    bool Chance(int percent) { return Pick(100) < percent; }
    template <class T> const T& OneOf(const std::vector<T>& items) {
        return items[static_cast<size_t>(Pick(static_cast<int>(items.size())))];
    }

private:
    uint64_t FState;
};

// Strings that are hard to keep: quotes, backslashes, CR, LF, CR LF, tabs, a semicolon and an
// unbalanced parenthesis.
const std::vector<std::string> Strings = {
    "\"plain\"",    "\"say \\\"hi\\\"\"", "\"back\\\\slash\"", "\"two\r\nlines\"",
    "\"lf\nonly\"", "\"cr\ronly\"",       "\"tab\there\"",     "\"semi; colon (\"",
    "\"\"",         "\"end\\\\\"",        "\"\r\n\r\n\"",      "\"a \\\"b\\\" \\\\ c\r\nd\"",
};
const std::vector<std::string> Symbols = {"red", "green", "blue", "x", "y", "nil", "on"};
// Symbols that only an escaped word spells (as sym-cat or explode$ make them): blanks, a tab,
// quotes, parentheses, a semicolon, connective characters and backslashes inside the word.
const std::vector<std::string> OddSymbols = {"a\\ b", "x\\)y", "s\\;t", "u\\&v", "q\\\"x", "b\\\\c",
                                             "w\\(", "p\\|q\\~r", "t\\\tab", "\\lead", "e\\[z\\]",
                                             "1\\ 2", "-\\ x", "<x",
                                             // Symbols that spell a number, a variable, nil or
                                             // punctuation: their first character is escaped.
                                             "\\12", "\\(", "\\nil", "\\?x", "\\[a", "\\1.5",
                                             "\\0x10", "\\$?m", "\\=>", "\\:", "\\-5", "\\\\"};
// The same symbols as functions make them at run time, from their plain texts.
const std::vector<std::string> MadeSymbols = {
    "(sym-cat 12)",          "(sym-cat \"(\")",
    "(sym-cat \"nil\")",     "(sym-cat \"?x\")",
    "(sym-cat \"[a\")",      "(sym-cat 1.5)",
    "(sym-cat \"0x10\")",    "(sym-cat \"$?\")",
    "(sym-cat \"=\" \">\")", "(sym-cat \":\")",
    "(sym-cat \" \")",       "(sym-cat \";c\")",
    "(sym-cat \"NiL\")",     "(explode$ \"?y 0x1F NIL )\")",
    "(sym-cat \"\\\\\")"};
const std::vector<std::string> Numbers = {"0",    "1",   "-7",  "42",   "2.5",
                                          "-0.0", "0.1", "1e3", "-1.25"};

std::string AnyConstant(TDice& d) {
    switch (d.Pick(4)) {
    case 0:
        return d.OneOf(Strings);
    case 1:
        return d.OneOf(Symbols);
    case 2:
        return d.OneOf(OddSymbols);
    default:
        return d.OneOf(Numbers);
    }
}

// A fuzzy value given by its points, in the universe 0..100 of the generated fuzzy type.
std::string PointList(TDice& d) {
    std::string s = "(";
    for (int i = 0, n = 1 + d.Pick(4), x = d.Pick(20); i < n; ++i, x += 1 + d.Pick(30))
        s += "(" + std::to_string(x) + " " +
             (d.Chance(50)   ? "1"
              : d.Chance(50) ? "0"
                             : "0.5") +
             ") ";
    return s + ")";
}

struct TTemplateInfo {
    std::string Name;
    std::vector<std::string> Singles; // slots that take any symbol
    std::string Multi;                // a multislot of symbols, or empty
    std::string Fuzzy;                // a fuzzy slot, or empty
};

class TBaseWriter {
public:
    explicit TBaseWriter(uint64_t seed) : D(seed * 7919 + 17) {}

    std::string Write() {
        TypesPart();
        TemplatesPart();
        Globals();
        Functions();
        for (int i = 0, n = 1 + D.Pick(4); i < n; ++i)
            Rule(i);
        FactSet();
        return Text;
    }
    // Facts to assert after loading.
    std::vector<std::string> Facts() {
        std::vector<std::string> r;
        for (int i = 0, n = D.Pick(4); i < n; ++i)
            r.push_back(TemplateFact());
        r.push_back("(ord" + std::to_string(D.Pick(3)) + " nil " + D.OneOf(Strings) + " " +
                    D.OneOf(Numbers) + " " + AnyConstant(D) + ")");
        r.push_back("(made" + std::to_string(D.Pick(2)) + " " + D.OneOf(MadeSymbols) + " " +
                    D.OneOf(MadeSymbols) + ")");
        if (HasSamples) r.push_back(D.Chance(50) ? "(reading -0.0 1.5)" : "(reading 0.125)");
        // A fuzzy fact asserted again is merged with the one there.
        for (const TTemplateInfo& t : Templates)
            if (!t.Fuzzy.empty() && D.Chance(50)) {
                r.push_back("(" + t.Name + ")");
                r.push_back("(" + t.Name + " (" + t.Fuzzy + " very cold))");
                r.push_back("(" + t.Name + " (" + t.Fuzzy + " hot))");
                break;
            }
        return r;
    }

    // Commands to run after the facts: duplicates that give a multislot lists, which are
    // spliced into it (and symbols that functions made).
    std::vector<std::string> Commands() {
        std::vector<std::string> r;
        for (const TTemplateInfo& t : Templates) {
            if (t.Multi.empty() || !D.Chance(60)) continue;
            std::string values;
            for (int i = 0, n = D.Pick(4); i < n; ++i) {
                switch (D.Pick(4)) {
                case 0:
                    values += " (create$ " + AnyConstant(D) + " " + D.OneOf(MadeSymbols) + ")";
                    break;
                case 1:
                    values += " (create$)";
                    break;
                case 2:
                    values += " " + D.OneOf(MadeSymbols);
                    break;
                default:
                    values += " " + AnyConstant(D);
                    break;
                }
            }
            r.push_back("(bind ?original (assert (" + t.Name + " (" + t.Multi + " " +
                        AnyConstant(D) + "))))");
            // The fact may be there already (a generated fact or a rule's): assert then answers
            // FALSE and there is nothing to duplicate.
            r.push_back("(if (neq ?original FALSE) then (duplicate ?original (" + t.Multi + values +
                        ")))");
        }
        return r;
    }

private:
    void TypesPart() {
        Text += "(deftype small" + Comment() + " extends (type INTEGER) (range " +
                std::to_string(D.Pick(3) - 1) + " " + (D.Chance(30) ? "?VARIABLE" : "100") +
                "))\r\n";
        Text += "(deftype colour extends (type SYMBOL) (allowed-symbols red green blue nil))\r\n";
        if (D.Chance(50)) Text += "(deftype wide extends (type small FLOAT) (range -5 500))\r\n";
        HasSamples = D.Chance(40);
        if (HasSamples)
            Text += "(deftype samples extends (type FLOAT) (range -1.5 1.5) (cardinality 1 "
                    "?VARIABLE))\r\n(deftemplate reading is-a samples)\r\n";
        HasFuzzy = D.Chance(70);
        if (HasFuzzy)
            Text += "(deftype heat extends (type FUZZY) (range 0 100)" +
                    std::string(D.Chance(50) ? " (units \"deg c\")" : "") +
                    " (values (term cold (z 10 30)) (term mild (pi 50 10)) (term hot (s 60 "
                    "80))" +
                    (D.Chance(50) ? " (term odd ((0 0) (40 1) (70 0)))" : "") + "))\r\n";
    }

    std::string Comment() { return D.Chance(40) ? " " + D.OneOf(Strings) : std::string(); }

    void TemplatesPart() {
        for (int t = 0, n = 1 + D.Pick(3); t < n; ++t) {
            TTemplateInfo info;
            info.Name = "tm" + std::to_string(t);
            std::string s = "(deftemplate " + info.Name + Comment() + "\r\n";
            for (int k = 0, m = 1 + D.Pick(5); k < m; ++k) {
                const std::string name = "s" + std::to_string(k);
                switch (D.Pick(15)) {
                case 12:
                    s += "    (slot " + name + " (type FLOAT) (units \"m per s\") (range -1.5 " +
                         "?VARIABLE) (default " + (D.Chance(50) ? "-0.0" : "0.25") + "))\r\n";
                    break;
                case 13:
                    s += "    (slot " + name + " (type NUMBER) (allowed-numbers 1 2.5 -0.0))\r\n";
                    break;
                case 14:
                    s += "    (slot " + name + " (allowed-strings \"a\" \"b\\\"c\") (default " +
                         (D.Chance(50) ? "\"a\"" : "\"b\\\"c\"") + "))\r\n";
                    break;
                case 0:
                    s += "    (slot " + name + ")\r\n";
                    info.Singles.push_back(name);
                    break;
                case 1:
                    s += "    (slot " + name + " (default " + AnyConstant(D) + "))\r\n";
                    info.Singles.push_back(name);
                    break;
                case 2:
                    s += "    (slot " + name + " (type INTEGER) (range 0 ?VARIABLE) (default " +
                         std::to_string(D.Pick(9)) + "))\r\n";
                    break;
                case 3:
                    s += "    (slot " + name + " (type FLOAT) (default " +
                         (D.Chance(50) ? "-0.0" : "3.25") + "))\r\n";
                    break;
                case 4:
                    s += "    (slot " + name + " (type STRING) (default " + D.OneOf(Strings) +
                         "))\r\n";
                    break;
                case 5:
                    s += "    (slot " + name + " (type SYMBOL) (default-dynamic (gensym*)))\r\n";
                    break;
                case 6:
                    s += "    (multislot " + name + " (type INTEGER) (cardinality 0 4)" +
                         (D.Chance(50) ? " (default 1 2)" : "") + ")\r\n";
                    break;
                case 7:
                    s += "    (slot " + name + " (type small) (default 4))\r\n";
                    break;
                case 8:
                    s += "    (multislot " + name + " (type small) (cardinality " +
                         std::to_string(D.Pick(2)) + " 3))\r\n";
                    break;
                case 9:
                    s += "    (slot " + name + " (type colour) (default " +
                         (D.Chance(50) ? "nil" : "green") + "))\r\n";
                    break;
                case 10:
                    if (HasFuzzy && info.Fuzzy.empty()) {
                        s += "    (slot " + name + " (type heat)" +
                             (D.Chance(60) ? " (default hot)" : "") + ")\r\n";
                        info.Fuzzy = name;
                        break;
                    }
                    [[fallthrough]];
                default:
                    if (info.Multi.empty()) {
                        s += "    (multislot " + name +
                             (D.Chance(50) ? " (default a nil " + D.OneOf(Strings) + ")" : "") +
                             ")\r\n";
                        info.Multi = name;
                    } else {
                        s += "    (multislot " + name + " (default-dynamic (create$ " +
                             D.OneOf(Symbols) + ")))\r\n";
                    }
                    break;
                }
            }
            Text += s + ")\r\n";
            TemplateTexts.push_back(s + ")");
            Templates.push_back(info);
        }
        if (D.Chance(40)) {
            TTemplateInfo child = Templates[0];
            child.Name = "child";
            child.Singles.push_back("extra");
            Text +=
                "(deftemplate child extends tm0 (slot extra (default " + AnyConstant(D) + ")))\r\n";
            Templates.push_back(child);
        }
    }

    void Globals() {
        std::string s = "(defglobal";
        for (int i = 0, n = 1 + D.Pick(4); i < n; ++i) {
            std::string value = AnyConstant(D);
            if (D.Chance(25)) value = "nil";
            s += " ?*g" + std::to_string(i) + "* = " + value;
        }
        Text += s + ")\r\n";
    }

    void Functions() {
        HasFunction = D.Chance(70);
        if (!HasFunction) return;
        Text += "(deffunction helper (?a $?rest)" + Comment() +
                "\r\n    (bind ?n (length$ $?rest))\r\n    (printout t " + D.OneOf(Strings) +
                " ?a crlf)\r\n    (if (> ?n 0) then (nth$ 1 $?rest) else ?a))\r\n";
    }

    // One constraint of a single field. `fresh` is a variable name the field may bind; in a
    // negated element no variable is bound for later use. "=" stands only in a single slot.
    std::string Constraint(std::vector<std::string>& bound, bool negated, bool single = false) {
        const std::string fresh = "?v" + std::to_string(VarCount);
        auto bind = [&]() {
            ++VarCount;
            if (!negated) bound.push_back(fresh);
            return fresh;
        };
        switch (D.Pick(15)) {
        case 12:
            // An "|" run without a leading variable: "=" first in a single slot, a predicate
            // or a literal first anywhere.
            if (single)
                return (D.Chance(50) ? "=(+ 1 " : "~=(+ 2 ") + D.OneOf(Numbers) + ")|" +
                       AnyConstant(D);
            return ":(> 2 1)|" + AnyConstant(D);
        case 13:
            return AnyConstant(D) + "|" + (single ? "=(* 2 2)" : ":(eq 1 1)") + "|" +
                   D.OneOf(OddSymbols);
        case 14:
            return "~" + D.OneOf(OddSymbols) + (single ? "&~=(+ 3 3)" : "");
        case 0:
            return AnyConstant(D);
        case 1:
            return "~" + D.OneOf(Symbols);
        case 2:
            return D.OneOf(Symbols) + "|" + D.OneOf(Strings) + "|" + D.OneOf(Numbers);
        case 3:
            return "?";
        case 4:
            return bound.empty() || negated ? "?" : D.OneOf(bound);
        case 5:
            return negated ? "~" + D.OneOf(Symbols) + "&~" + D.OneOf(Symbols)
                           : bind() + "&~" + D.OneOf(Symbols);
        case 6:
            return negated ? "red|blue" : bind() + "&red|blue|" + D.OneOf(Numbers);
        case 7:
            return negated ? ":(> 1 0)" : bind() + "&:(neq " + fresh + " " + D.OneOf(Symbols) + ")";
        case 8:
            return single ? "=(+ 1 " + D.OneOf(Numbers) + ")" : "?";
        case 9:
            if (!single) return "~red|blue";
            return negated ? "~red|=(+ 2 2)" : bind() + "&=(+ 1 1)|" + fresh;
        case 10:
            return "~" + D.OneOf(Symbols) + "&~" + D.OneOf(Strings) + "|" + D.OneOf(Numbers);
        default:
            return negated ? "x|y" : bind();
        }
    }

    std::string Element(std::vector<std::string>& bound, bool negated) {
        if (D.Chance(45)) {
            std::string s = "(ord" + std::to_string(D.Pick(3));
            for (int i = 0, n = D.Pick(4); i < n; ++i)
                s += " " + Constraint(bound, negated);
            if (D.Chance(40)) s += D.Chance(50) ? " $?" : " $?m" + std::to_string(VarCount++);
            return s + ")";
        }
        const TTemplateInfo& t = D.OneOf(Templates);
        std::string s = "(" + t.Name;
        for (const std::string& slot : t.Singles)
            if (D.Chance(60)) s += " (" + slot + " " + Constraint(bound, negated, true) + ")";
        if (!t.Multi.empty() && D.Chance(50)) {
            s += " (" + t.Multi;
            if (D.Chance(50)) s += " " + Constraint(bound, negated);
            s += D.Chance(50) ? " $?)" : " $?t" + std::to_string(VarCount++) + ")";
        }
        if (!t.Fuzzy.empty() && D.Chance(40))
            s += " (" + t.Fuzzy + " " + (D.Chance(50) ? "hot" : "very cold") + ")";
        return s + ")";
    }

    void Rule(int index) {
        std::string s = "(defrule r" + std::to_string(index) + Comment() + "\r\n";
        if (D.Chance(40))
            s += "    (declare (salience " + std::to_string(D.Pick(21) - 10) + ")" +
                 (D.Chance(30) ? " (oneshot TRUE)" : "") + ")\r\n";
        std::vector<std::string> bound;
        std::string factVariable;
        for (int i = 0, n = 1 + D.Pick(4); i < n; ++i) {
            s += "    ";
            switch (D.Pick(8)) {
            case 0:
                s += "(not " + Element(bound, true) + ")";
                break;
            case 1:
                s += "(exists " + Element(bound, true) + ")";
                break;
            case 2:
                s += "(unique " + Element(bound, false) + ")";
                break;
            case 3:
                s += "(explicit " + Element(bound, false) + ")";
                break;
            case 4:
                if (!bound.empty()) {
                    s += D.Chance(50)
                             ? "(test (neq " + D.OneOf(bound) + " " + D.OneOf(Strings) + "))"
                             : "(not (test (eq " + D.OneOf(bound) + " x)))";
                    break;
                }
                [[fallthrough]];
            case 5:
                if (factVariable.empty()) {
                    factVariable = "?f" + std::to_string(index);
                    s += factVariable + " <- ";
                }
                [[fallthrough]];
            default:
                s += Element(bound, false);
                break;
            }
            s += "\r\n";
        }
        s += "    =>\r\n";
        for (int i = 0, n = D.Pick(4); i < n; ++i) {
            switch (D.Pick(5)) {
            case 0:
                s += "    (printout t " + D.OneOf(Strings) + " crlf)\r\n";
                break;
            case 1:
                s += "    (assert (out" + std::to_string(index) + " nil " + D.OneOf(Strings) + " " +
                     (bound.empty() ? D.OneOf(Numbers) : D.OneOf(bound)) + "))\r\n";
                break;
            case 2:
                s +=
                    "    (bind ?*g0* " +
                    (HasFunction ? "(helper 1 nil " + D.OneOf(Strings) + ")" : std::string("nil")) +
                    ")\r\n";
                break;
            case 3:
                if (!factVariable.empty()) {
                    s += "    (retract " + factVariable + ")\r\n";
                    break;
                }
                [[fallthrough]];
            default:
                s += "    (bind ?local " + AnyConstant(D) + ")\r\n";
                break;
            }
        }
        Text += s + ")\r\n";
    }

    std::string TemplateFact() {
        const TTemplateInfo& t = D.OneOf(Templates);
        std::string s = "(" + t.Name;
        for (const std::string& slot : t.Singles)
            if (D.Chance(70)) s += " (" + slot + " " + AnyConstant(D) + ")";
        if (!t.Multi.empty() && D.Chance(70)) {
            s += " (" + t.Multi;
            for (int i = 0, n = D.Pick(4); i < n; ++i)
                s += " " + AnyConstant(D);
            s += ")";
        }
        if (!t.Fuzzy.empty() && D.Chance(70))
            s += " (" + t.Fuzzy + " " +
                 (D.Chance(30)
                      ? PointList(D)
                      : D.OneOf(std::vector<std::string>{"hot", "very cold", "mild", "somewhat hot",
                                                         "cold or hot", "extremely mild"})) +
                 ")";
        return s + ")";
    }

    void FactSet() {
        std::string s = "(deffacts start" + Comment() + "\r\n";
        for (int i = 0, n = 1 + D.Pick(4); i < n; ++i)
            s += "    " + TemplateFact() + "\r\n";
        s += "    (ord0 nil " + D.OneOf(Strings) + " " + D.OneOf(Numbers) + ")\r\n";
        Text += s + ")\r\n";
    }

public:
    // Constructs changed while the base is in use, run after the first reset: a rule
    // that while it fires reads a template again word for word and asserts a fact of it (the
    // template stays the same object), one that tries a different definition of it (refused:
    // rules use it), the deffunction the rules call defined again, maybe a template removed
    // with the rules that use it, and a global whose value fails (refused).
    struct TChanges {
        std::string Kept;                 // the template read again word for word
        std::vector<std::string> Rules;   // defined, then the engine runs
        std::vector<std::string> After;   // run one by one after the rules fired
        std::vector<std::string> Refused; // each raises
    };
    TChanges Changes() {
        TChanges c;
        const size_t k = static_cast<size_t>(D.Pick(static_cast<int>(TemplateTexts.size())));
        c.Kept = Templates[k].Name;
        c.Rules.push_back("(defrule again (declare (salience 20)) => (parse " +
                          Quoted(TemplateTexts[k]) + ") (assert (" + c.Kept + ")))");
        c.Rules.push_back("(defrule alter (declare (salience 10)) => (parse \"(deftemplate " +
                          c.Kept + " (slot other))\") (assert (" + c.Kept + ")))");
        if (HasFunction)
            c.After.push_back("(deffunction helper (?a $?rest) (if (> (length$ $?rest) 0) then "
                              "(nth$ 1 $?rest) else (create$ ?a " +
                              D.OneOf(Symbols) + ")))");
        if (Templates.size() > 1 && D.Chance(40)) {
            // The facts made from here on leave the removed template out.
            const size_t gone = static_cast<size_t>(D.Pick(static_cast<int>(Templates.size())));
            c.After.push_back("(undeftemplate " + Templates[gone].Name + ")");
            Templates.erase(Templates.begin() + static_cast<ptrdiff_t>(gone));
        }
        c.Refused.push_back("(defglobal ?*bad* = " +
                            std::string(D.Chance(50) ? "(/ 1 0)" : "(no-such-function 1)") + ")");
        return c;
    }

private:
    // The text as a string literal.
    static std::string Quoted(const std::string& text) {
        std::string r = "\"";
        for (char ch : text) {
            if (ch == '"' || ch == '\\') r += '\\';
            r += ch;
        }
        return r + "\"";
    }

    TDice D;
    std::string Text;
    std::vector<std::string> TemplateTexts; // tm0, tm1, ... as written
    std::vector<TTemplateInfo> Templates;
    bool HasFuzzy = false;
    bool HasSamples = false;
    bool HasFunction = false;
    int VarCount = 0;
};

// The text without its "; Created:" line, which carries the time.
std::string Timeless(const std::string& text) {
    const size_t at = text.find("; Created: ");
    if (at == std::string::npos) return text;
    return text.substr(0, at) + text.substr(text.find("\r\n", at) + 2);
}

std::string FactsText(TInferenceEngine& engine) {
    TStringStream stream("");
    engine.SaveFactsToStream(stream);
    return stream.DataString();
}

// A value's kind, a list's as the kinds of its elements at every depth.
std::string Shape(const IIEValue* value) {
    if (!value) return "-";
    if (value->GetDType() != dtList) return std::to_string(value->GetDType());
    std::string r = "(";
    const TRefPtr<IValueVector> items = value->AsList();
    for (int32_t i = 0; i < items->Count(); ++i)
        r += Shape(items->GetItem(i).get()) + " ";
    return r + ")";
}

// The shapes of every fact's slot values: a text that reads back the same may still stand for a
// list nested where its fields should be.
std::string FactShapes(TInferenceEngine& engine) {
    std::string r;
    for (const auto& fact : engine.Facts().Items()) {
        const auto* f = dynamic_cast<const TFact*>(fact.get());
        for (int32_t i = 0, n = f ? f->SlotCount() : 0; i < n; ++i)
            r += Shape(f->ValueAt(i).get()) + " ";
        r += "\n";
    }
    return r;
}

// IE_ROUND_TRIP_BASES in the environment asks for another number of bases (1000 for a long run).
int BaseCount() {
    const char* count = std::getenv("IE_ROUND_TRIP_BASES");
    return count && std::atoi(count) > 0 ? std::atoi(count) : 250;
}

// Clears the engine and reads the text as a file is loaded (without a reset).
void Load(TInferenceEngine& engine, const std::string& text) {
    engine.Clear();
    TStringStream stream(text);
    engine.LoadFromStream(stream);
}

TEST(RoundTripProperty, GeneratedRuleBasesSaveAndLoadToTheSameText) {
    TInferenceEngine engine;
    engine.OnPrintOut = [](TInferenceEngine*, const std::string&, const std::string&) {};
    for (int seed = 0, n = BaseCount(); seed < n; ++seed) {
        TBaseWriter writer(static_cast<uint64_t>(seed));
        const std::string source = writer.Write();
        SCOPED_TRACE("base " + std::to_string(seed) + ":\n" + source);
        ASSERT_NO_THROW(Load(engine, source));
        ASSERT_NO_THROW(engine.Reset());

        // Constructs changed while in use; whatever they leave resets, saves and loads as any
        // base.
        const TBaseWriter::TChanges changes = writer.Changes();
        const TRefPtr<IFactTemplate> kept = engine.FindFactTemplate(changes.Kept);
        for (const std::string& rule : changes.Rules)
            ASSERT_NO_THROW(engine.ExecuteCommand(rule, true)) << rule;
        try {
            engine.RunLimited(200);
        } catch (const std::exception&) {
            // A generated rule may fail when it fires; the base stays as the failure left it.
        }
        ASSERT_EQ(engine.FindFactTemplate(changes.Kept), kept) << "the template was replaced";
        for (const std::string& change : changes.After)
            ASSERT_NO_THROW(engine.ExecuteCommand(change, true)) << change;
        for (const std::string& change : changes.Refused)
            ASSERT_ANY_THROW(engine.ExecuteCommand(change, true)) << change;
        ASSERT_FALSE(engine.GlobalVariables().ContainsKey("bad"));
        ASSERT_NO_THROW(engine.Reset());

        for (const std::string& fact : writer.Facts())
            ASSERT_NO_THROW(engine.AssertString(fact)) << fact;
        for (const std::string& command : writer.Commands())
            ASSERT_NO_THROW(engine.ExecuteCommand(command)) << command;
        const std::string saved = Timeless(engine.GetText());
        const std::string facts = FactsText(engine);
        const std::string shapes = FactShapes(engine);

        // Save, clear, load, save.
        ASSERT_NO_THROW(Load(engine, saved)) << saved;
        ASSERT_EQ(Timeless(engine.GetText()), saved);

        // The saved facts load back as the same facts, in the same order.
        engine.ExecuteCommand("(retract *)");
        ASSERT_EQ(engine.Facts().Count(), 0);
        TStringStream in(facts);
        ASSERT_NO_THROW(engine.LoadFactsFromStream(in)) << facts;
        ASSERT_EQ(FactsText(engine), facts);
        ASSERT_EQ(FactShapes(engine), shapes);
    }
}

} // namespace
} // namespace ie
