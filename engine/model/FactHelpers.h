// Helpers of the fact units (IEFactTemplates, IEFacts): the texts of kinds and values they
// report and write.
#pragma once

#include <string>
#include <string_view>

#include "engine/model/IEConsts.h"
#include "engine/model/IEHelperFunctions.h"
#include "engine/model/IEInterfaces.h"

namespace ie::factdetail {

// "INTEGER, FLOAT": the slot's kinds without "dt", joined by ", ", upper case.
inline std::string UpperKindList(TIETypes types, std::string_view separator) {
    std::string s = SetToText(types, separator, false);
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

inline std::string TextOf(const IIEValue* value) {
    return value ? value->GetText() : std::string();
}

inline std::string Trimmed(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return std::string(s.substr(b, e - b));
}

} // namespace ie::factdetail
