// The function table of a test engine: what a reasoner keeps of user functions, keyed by name.
// Test engines derive from it and add the texts and services they need.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/model/IEInterfaces.h"

namespace ie::test {

class TFunctionTableReasoner : public IReasoner {
public:
    void AddUserFunction(const TRefPtr<IUserFunction>& f) override {
        Table[f->GetFunctionName()] = f;
    }
    // Removal is by the function's present name, and only of that very function.
    void RemoveUserFunction(const TRefPtr<IUserFunction>& f) override {
        auto it = Table.find(f->GetFunctionName());
        if (it != Table.end() && it->second == f) Table.erase(it);
    }
    TRefPtr<IUserFunction> FindUserFunction(std::string_view name) override {
        auto it = Table.find(std::string(name));
        return it == Table.end() ? nullptr : it->second;
    }
    void PutUserFunction(std::string_view name, const TRefPtr<IUserFunction>& f) override {
        Table[std::string(name)] = f;
    }

    std::unordered_map<std::string, TRefPtr<IUserFunction>> Table;
};

} // namespace ie::test
