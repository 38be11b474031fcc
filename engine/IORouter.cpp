// The input/output router: printout, readline and read by logical name, the dribble file and the
// batch streams.
//
// Invariant: a batch never reads the file the dribble writes, and the dribble never opens a file
// being batched (either would read its own echo and never reach the end); the former batch
// stream comes back however a batch ends.
#include "engine/IORouter.h"

#include <filesystem>
#include <system_error>

#include "engine/EngineFiles.h"
#include "engine/InferenceEngine.h"
#include "platform/Format.h"
#include "platform/Restore.h"
#include "platform/Streams.h"

namespace ie {

namespace {

[[noreturn]] void RaiseNoReader(std::string_view function) {
    RaiseIE(imEventNotImplemented, function);
}

bool SameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

} // namespace

TIORouter::TIORouter(TInferenceEngine& engine)
    : FEngine(engine), FStreams(std::make_unique<TIOStreams>(&engine)) {}

TIORouter::~TIORouter() = default;

void TIORouter::PrintOut(const std::string& name, const std::string& text) {
    if (name.empty() || name == "t") {
        if (FDribble) {
            FDribble->WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
            return;
        }
        if (FEngine.OnPrintOut) FEngine.OnPrintOut(&FEngine, name, text);
        return;
    }
    TGTextStream* stream = FStreams->Find(name);
    // Text for a name that is not open would be lost: the user learns which name it was.
    if (!stream) RaiseIE(imInvalidStreamName, name);
    if (stream->ReadOnly())
        throw EIEException(Format("Cannot write to %s: the stream is open for reading", name));
    stream->WriteString(text);
}

TGTextStream* TIORouter::InputStream(const std::string& name) const {
    TGTextStream* stream = FStreams->Find(name);
    // Input from a name that is not open, or open for writing only, is never taken from the
    // terminal or the batch instead: that would eat the lines the batch is to run.
    if (!stream) RaiseIE(imInvalidStreamName, name);
    if (stream->WriteOnly())
        throw EIEException(Format("Cannot read from %s: the stream is open for writing", name));
    return stream;
}

void TIORouter::ReadLine(const std::string& name, std::string& text) {
    if (!name.empty() && name != "t") {
        TGTextStream* stream = InputStream(name);
        text.clear();
        if (!stream->Eof()) stream->ReadLn(text);
        return;
    }
    if (FBatch) {
        text.clear();
        FBatch->ReadLn(text);
        // The echo goes the way of any output, so a host's engine sees it.
        FEngine.PrintOut("", text + std::string(IELineEnd));
        return;
    }
    if (FEngine.OnReadLine) {
        FEngine.OnReadLine(&FEngine, name, text);
        return;
    }
    RaiseNoReader("readline");
}

void TIORouter::ReadToken(const std::string& name, TStreamTokenRef& token) {
    if (!name.empty() && name != "t") {
        auto* stream = dynamic_cast<TIETokenizerStream*>(InputStream(name));
        // A host's plain text stream gives lines only.
        if (!stream)
            throw EIEException(
                Format("Cannot read a value from %s: the stream gives lines only", name));
        token = stream->NextLineToken();
        stream->SkipLine();
        return;
    }
    if (FBatch) {
        token = FBatch->NextLineToken();
        FBatch->SkipLine();
        // The echo shows the input as the user typed it: a number, whose token holds no text,
        // as written.
        std::string echo = token->GetText();
        if (echo.empty() && token->GetDataType() != dtString) echo = token->SourceText();
        FEngine.PrintOut("", echo + std::string(IELineEnd));
        return;
    }
    if (FEngine.OnReadToken) {
        FEngine.OnReadToken(&FEngine, name, token);
        return;
    }
    RaiseNoReader("read");
}

bool TIORouter::BatchFromStream(TStream& stream) {
    const TFileNesting nesting(FFileDepth);
    // The batch echoes every line it reads to the dribble file: reading that same file would
    // read its own echo and never reach the end. The names of the files being batched keep the
    // dribble off them in turn.
    const auto* file = dynamic_cast<const TFileStream*>(&stream);
    const std::string fileName = file ? file->FileName() : std::string();
    if (FDribble && SameFile(fileName, FDribbleFileName))
        throw EIEException(Format("Unable to batch %s: it is the dribble file", fileName));
    FBatchFileNames.push_back(fileName);
    const TOnExit pop([this] { FBatchFileNames.pop_back(); });
    std::unique_ptr<TIETokenizerStream> batch = FEngine.CreateStream(&stream);
    // The former batch comes back however this one ends, and this one's stream is closed.
    TRestore<TIETokenizerStream*> restore(FBatch, batch.get());
    std::string line;
    while (!batch->Eof()) {
        batch->ReadLn(line);
        FEngine.ExecuteCommand(line, true);
    }
    return true;
}

bool TIORouter::SetDribbleStream(std::unique_ptr<TStream> stream) {
    FDribble = std::move(stream);
    FDribbleFileName.clear();
    return true;
}

bool TIORouter::DribbleOn(const std::string& fileName) {
    for (const std::string& batchFile : FBatchFileNames)
        if (SameFile(fileName, batchFile))
            throw EIEException(
                Format("Unable to dribble to %s: it is being run as a batch file", fileName));
    try {
        FDribble = std::make_unique<TFileStream>(fileName, fmCreate);
    } catch (const EException&) {
        return false;
    }
    FDribbleFileName = fileName;
    return true;
}

bool TIORouter::DribbleOff() {
    FDribble.reset();
    FDribbleFileName.clear();
    return true;
}

} // namespace ie
