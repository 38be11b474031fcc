// ierun: runs rule-language files through an inference engine from the shell.
//
//   ierun [file ...]
//
// Everything the engine prints goes to standard output. Each file is loaded as the engine loads
// a rule file: its whole text is parsed (constructs may span lines), top-level commands such as
// (reset) and (run) are executed and their values echoed. A file ending in ".bat" is run as a
// batch file instead (one complete command per line). Without files, standard input is run as a
// batch. A failing command or load prints the engine's message and ends with status 1; (exit)
// ends the shell quietly with status 0.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

#include "engine/InferenceEngine.h"
#include "platform/Exceptions.h"
#include "platform/Streams.h"

namespace {

bool EndsWith(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void Write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

} // namespace

int main(int argc, char** argv) {
    using namespace ie;
    // The packages register themselves at start-up (the build links them whole), so the engine
    // creates all nine.
    TInferenceEngine engine;
    engine.OnPrintOut = [](TInferenceEngine*, const std::string&, const std::string& text) {
        Write(text);
    };
    try {
        if (argc < 2) {
            std::string input((std::istreambuf_iterator<char>(std::cin)),
                              std::istreambuf_iterator<char>());
            TStringStream stream(input);
            engine.BatchFromStream(stream);
        }
        for (int i = 1; i < argc; ++i) {
            const std::string fileName = argv[i];
            if (EndsWith(fileName, ".bat")) {
                engine.Batch(fileName);
                continue;
            }
            engine.LoadFromFile(fileName);
        }
    } catch (const EAbort&) {
        // (exit) ends the shell: quietly, and as a normal end.
        std::fflush(stdout);
        return 0;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        Write(std::string(e.what()) + "\n");
        std::fflush(stdout);
        return 1;
    }
    std::fflush(stdout);
    return 0;
}
