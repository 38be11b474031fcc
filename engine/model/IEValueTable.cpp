// The name-to-value table.
#include "engine/model/IEValueTable.h"

#include "engine/model/IEValue.h"

namespace ie {

bool TValueHashTable::Find(std::string_view key, TRefPtr<IIEValue>& value) const {
    TRefPtr<IInterface> found;
    if (!TIStringHashTable::Find(key, found)) {
        value = nullptr;
        return false;
    }
    value = TRefPtr<IIEValue>(dynamic_cast<IIEValue*>(found.get()));
    return true;
}

TRefPtr<IIEValue> TValueHashTable::Get(std::string_view key) const {
    TRefPtr<IInterface> found = TIStringHashTable::Get(key);
    return TRefPtr<IIEValue>(dynamic_cast<IIEValue*>(found.get()));
}

void TValueHashTable::Put(std::string_view key, TRefPtr<IIEValue> value, TRefPtr<IIEValue>& old) {
    TRefPtr<IInterface> previous = PutEntry(key, TRefPtr<IInterface>(std::move(value)));
    old = TRefPtr<IIEValue>(dynamic_cast<IIEValue*>(previous.get()));
}

void TValueHashTable::Add(std::string_view key, TRefPtr<IIEValue> value) {
    PutEntry(key, TRefPtr<IInterface>(std::move(value)));
}

void TValueHashTable::Assign(const TValueHashTable& source) {
    if (&source == this) return;
    BeginUpdate();
    try {
        AssignShape(source);
        for (const auto& entry : source) {
            auto* v = dynamic_cast<const IIEValue*>(entry.Intf().get());
            PutEntry(entry.Key(), v ? TRefPtr<IInterface>(v->CloneValue()) : nullptr);
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

std::string TValueHashTable::GetText() const {
    std::string r;
    for (const auto& entry : *this) {
        auto* v = dynamic_cast<const IIEValue*>(entry.Intf().get());
        r += entry.Key();
        r += " = ";
        if (v) r += v->GetText();
        r += "\r\n";
    }
    return r;
}

} // namespace ie
