// The input/output router of an inference engine: where a printout, a readline or a read goes
// by logical name. "t" (or no name) is the terminal: output goes to the dribble file while one is
// open, else to the engine's OnPrintOut; input comes from the batch being run, else from the
// engine's OnReadLine and OnReadToken. Any other name is one of the named streams (TIOStreams)
// that open made; a name that is not open is an error, and so is reading a stream open for
// writing.
//
// TInferenceEngine owns one and forwards its input/output operations here; batches and loads
// nest at most MaxFileNesting deep, counted here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/EngineTables.h"
#include "engine/lang/IEParser.h"

namespace ie {

class TInferenceEngine;
class TStream;

class TIORouter {
public:
    // The limit of nesting of loads and batches inside each other.
    static constexpr int32_t MaxFileNesting = 32;

    explicit TIORouter(TInferenceEngine& engine);
    ~TIORouter();
    TIORouter(const TIORouter&) = delete;
    TIORouter& operator=(const TIORouter&) = delete;

    TIOStreams& Streams() noexcept { return *FStreams; }

    void PrintOut(const std::string& name, const std::string& text);
    void ReadLine(const std::string& name, std::string& text);
    void ReadToken(const std::string& name, TStreamTokenRef& token);

    // Runs each line of the stream as a command of the engine; the stream is the input of "t"
    // meanwhile.
    bool BatchFromStream(TStream& stream);
    bool SetDribbleStream(std::unique_ptr<TStream> stream);
    bool DribbleOn(const std::string& fileName);
    bool DribbleOff();
    bool Dribbling() const noexcept { return FDribble != nullptr; }
    bool InBatch() const noexcept { return FBatch != nullptr; }

    // The depth of loads and batches in progress (TFileNesting counts it).
    int32_t& FileDepth() noexcept { return FFileDepth; }

    // The engine goes: the dribble file is closed, then the named streams.
    void CloseDribble() noexcept { FDribble.reset(); }
    void Release() noexcept { FStreams.reset(); }

private:
    // The open stream of that name that input can be read from, else the error naming it.
    TGTextStream* InputStream(const std::string& name) const;

    TInferenceEngine& FEngine;
    std::unique_ptr<TIOStreams> FStreams;
    std::unique_ptr<TStream> FDribble;
    TIETokenizerStream* FBatch = nullptr;
    // The file the dribble writes to and the files being batched, to keep a batch from reading
    // what it is writing.
    std::string FDribbleFileName;
    std::vector<std::string> FBatchFileNames;
    int32_t FFileDepth = 0;
};

} // namespace ie
