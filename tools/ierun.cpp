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
#include <memory>
#include <string>

#include "engine/InferenceEngine.h"
#include "platform/Exceptions.h"
#include "platform/Sanitizers.h"
#include "platform/Streams.h"

namespace {

bool EndsWith(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void Write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

// Whether the shell frees its engine before the process ends. An optimised build leaves the
// working memory (facts, tokens, values: millions of small blocks after a long run) to the
// operating system, which takes it back at once, where freeing it block by block can cost a
// fifth of the run. Debug and sanitizer builds free everything, so that LeakSanitizer still
// finds whatever the engine itself fails to free.
#if defined(NDEBUG) && !defined(IE_LEAK_CHECKED)
constexpr bool kFreeEngineAtExit = false;
#else
constexpr bool kFreeEngineAtExit = true;
#endif

// Ends the engine's life at the end of the shell and returns `status`. What the engine's
// destruction does outside the process is done either way: the dribble file and the streams
// the program opened are closed, so that their buffered output reaches the files.
int Finish(std::unique_ptr<ie::TInferenceEngine> engine, int status) {
    std::fflush(stdout);
    if (kFreeEngineAtExit) {
        engine.reset();
        return status;
    }
    engine->OnPrintOut = nullptr;
    engine->DribbleOff();
    try {
        engine->IOStreams().Clear();
    } catch (...) {
        // The engine's destructor does not report a failed close either.
    }
    // Still reachable, for a leak checker run on an optimised build.
    static ie::TInferenceEngine* leftToTheSystem = nullptr;
    leftToTheSystem = engine.release();
    (void)leftToTheSystem;
    return status;
}

} // namespace

int main(int argc, char** argv) {
    using namespace ie;
    // The packages register themselves at start-up (the build links them whole), so the engine
    // creates all nine.
    auto engine = std::make_unique<TInferenceEngine>();
    engine->OnPrintOut = [](TInferenceEngine*, const std::string&, const std::string& text) {
        Write(text);
    };
    try {
        if (argc < 2) {
            std::string input((std::istreambuf_iterator<char>(std::cin)),
                              std::istreambuf_iterator<char>());
            TStringStream stream(input);
            engine->BatchFromStream(stream);
        }
        for (int i = 1; i < argc; ++i) {
            const std::string fileName = argv[i];
            if (EndsWith(fileName, ".bat")) {
                engine->Batch(fileName);
                continue;
            }
            engine->LoadFromFile(fileName);
        }
    } catch (const EAbort&) {
        // (exit) ends the shell: quietly, and as a normal end.
        return Finish(std::move(engine), 0);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        Write(std::string(e.what()) + "\n");
        return Finish(std::move(engine), 1);
    }
    return Finish(std::move(engine), 0);
}
