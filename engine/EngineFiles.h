// Engine files: the whole engine written as one rule-language text and read back, each
// construct table (types, templates, rules, facts) saved and loaded on its own, through streams
// or files, and the engine's stored properties. TInferenceEngine's load and save methods and
// DefineProperties delegate here.
//
// A saved table reads back into an equal table: types and templates are written parents first,
// because a child read before its parent would extend a construct that is not there yet. Loads
// nest (a file may load another) at most TInferenceEngine::MaxFileNesting deep.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ie {

class TFiler;
class TInferenceEngine;
class TStream;

// Counts one level of loads and batches nested in each other for the scope; raises when a file
// loads or batches itself (directly or through others) and would nest without end.
class TFileNesting {
public:
    explicit TFileNesting(int32_t& depth);
    ~TFileNesting() { --FDepth; }
    TFileNesting(const TFileNesting&) = delete;
    TFileNesting& operator=(const TFileNesting&) = delete;

private:
    int32_t& FDepth;
};

class TEngineFiles {
public:
    explicit TEngineFiles(TInferenceEngine& engine) noexcept : FEngine(engine) {}

    // The header, the settings line and every non-empty table as a section.
    std::string Text() const;

    // Reads the whole stream with execution on; nothing is cleared or reset.
    void LoadFromStream(TStream& stream);
    void SaveToStream(TStream& stream);
    // Loading types, templates or rules clears that table first; loading facts asserts the
    // stream's facts. Saving writes one text per entry, in table order.
    void LoadTypesFromStream(TStream& stream);
    void SaveTypesToStream(TStream& stream);
    void LoadFactsFromStream(TStream& stream);
    void SaveFactsToStream(TStream& stream);
    void SaveTemplateFactsToStream(TStream& stream, std::string_view templateName);
    void LoadTemplatesFromStream(TStream& stream);
    void SaveTemplatesToStream(TStream& stream);
    void LoadRulesFromStream(TStream& stream);
    void SaveRulesToStream(TStream& stream);

    // The same through a file: opened for reading (shared with other readers) or created.
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);
    void LoadTypesFromFile(const std::string& fileName);
    void SaveTypesToFile(const std::string& fileName);
    void LoadFactsFromFile(const std::string& fileName);
    void SaveFactsToFile(const std::string& fileName);
    void SaveTemplateFactsToFile(const std::string& fileName, std::string_view templateName);
    void LoadTemplatesFromFile(const std::string& fileName);
    void SaveTemplatesToFile(const std::string& fileName);
    void LoadRulesFromFile(const std::string& fileName);
    void SaveRulesToFile(const std::string& fileName);

    // The engine's stored properties: "DefTypes", "Templates", "Variables", "Rules" (the
    // tables, in the order in which they depend on each other), then "FactsList" and "FactSets".
    void DefineProperties(TFiler& filer);

private:
    // Reads the stream through the engine's reader, which gets its former stream back however
    // the reading ends; `facts` reads only facts, to assert them.
    void Read(TStream& source, bool facts);

    TInferenceEngine& FEngine;
};

} // namespace ie
