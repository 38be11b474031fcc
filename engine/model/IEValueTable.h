// The name-to-value table: the base of the engine's variable tables.
#pragma once

#include <string>
#include <string_view>

#include "containers/GHashTable.h"
#include "engine/model/IEInterfaces.h"

namespace ie {

class TValueHashTable : public TIStringHashTable {
public:
    using TIStringHashTable::TIStringHashTable;

    bool Find(std::string_view key, TRefPtr<IIEValue>& value) const;
    // Raises "No such element: %s" with the key when it is missing.
    TRefPtr<IIEValue> Get(std::string_view key) const;
    void Put(std::string_view key, TRefPtr<IIEValue> value, TRefPtr<IIEValue>& old);
    void Add(std::string_view key, TRefPtr<IIEValue> value);
    // Clears, takes the source's shape, then puts a clone of each value in key order, so that
    // changing a value of the copy never reaches the source.
    void Assign(const TValueHashTable& source);
    // "key = <print form>" and CR LF for each key, in key order.
    std::string GetText() const;
};

} // namespace ie
