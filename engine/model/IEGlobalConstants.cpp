// The global constant values.
//
// Invariant: the global constants refuse every change with an engine error.
#include "engine/model/IEGlobalConstants.h"

#include "engine/model/IEValue.h"

namespace ie {

namespace {

struct TGlobalConstants {
    TRefPtr<IIEValue> Items[14];

    TGlobalConstants() {
        int n = 0;
        auto atom = [&](std::string_view text) {
            auto v = TIEValue::CreateText(dtAtom, text);
            v->MakeConstant();
            Items[n++] = v;
        };
        auto number = [&](double d) {
            auto v = TIEValue::CreateFloat(d);
            v->MakeConstant();
            Items[n++] = v;
        };
        atom("TRUE");
        atom("FALSE");
        atom("");
        auto list = MakeRef<TValueVector>();
        list->MakeConstant();
        auto empty = TIEValue::CreateList(list);
        empty->MakeConstant();
        Items[n++] = empty;
        for (std::string_view k : {"catch", "except", "finally", "else", "do", "EOF", "then"})
            atom(k);
        number(3.141592653589793);
        atom("");
        number(0.0);
    }
};

const TGlobalConstants& Constants() {
    static const TGlobalConstants constants;
    return constants;
}

} // namespace

const TRefPtr<IIEValue>& IETrueValue() {
    return Constants().Items[0];
}
const TRefPtr<IIEValue>& IEFalseValue() {
    return Constants().Items[1];
}
const TRefPtr<IIEValue>& IEEmptyAtom() {
    return Constants().Items[2];
}
const TRefPtr<IIEValue>& IEEmptyList() {
    return Constants().Items[3];
}
const TRefPtr<IIEValue>& IECatchAtom() {
    return Constants().Items[4];
}
const TRefPtr<IIEValue>& IEExceptAtom() {
    return Constants().Items[5];
}
const TRefPtr<IIEValue>& IEFinallyAtom() {
    return Constants().Items[6];
}
const TRefPtr<IIEValue>& IEElseAtom() {
    return Constants().Items[7];
}
const TRefPtr<IIEValue>& IEDoAtom() {
    return Constants().Items[8];
}
const TRefPtr<IIEValue>& IEEOFAtom() {
    return Constants().Items[9];
}
const TRefPtr<IIEValue>& IEThenAtom() {
    return Constants().Items[10];
}
const TRefPtr<IIEValue>& IEPiValue() {
    return Constants().Items[11];
}
const TRefPtr<IIEValue>& IEBlankAtom() {
    return Constants().Items[12];
}
const TRefPtr<IIEValue>& IEZeroValue() {
    return Constants().Items[13];
}

bool IsGlobalConstant(const IIEValue* value) noexcept {
    if (!value) return false;
    for (const auto& c : Constants().Items)
        if (c.get() == value) return true;
    return false;
}

bool IsFalseValue(const IIEValue* value) noexcept {
    if (!value) return false;
    if (value == IEFalseValue().get()) return true;
    if (value->GetDType() != dtAtom) return false;
    if (auto* v = dynamic_cast<const TIEValue*>(value))
        return v->TextBlock()->SameText(
            *static_cast<const TIEValue*>(IEFalseValue().get())->TextBlock());
    return false;
}

} // namespace ie
