// The buffered stream and the text stream on it. Every switch between reading and writing goes
// through the logical position: a write after a read first seeks the stream back to where the
// reader stopped, and a read after a write flushes first. A flush leaves the buffer idle, so no
// stale byte is ever delivered; the destructor flushes too, but only Flush reports a failure.
#include "containers/GStreams.h"

#include "platform/Format.h"

#include <algorithm>
#include <cstring>

namespace ie {

// ---------------------------------------------------------------------------------------------
// TGBufferStream

TGBufferStream::TGBufferStream(TStream* stream)
    : FStream(stream), FBuffer(std::make_unique<char[]>(BufferSize)) {}

TGBufferStream::~TGBufferStream() {
    if (FMode == 2 && FStream) {
        try {
            FlushBuffer();
        } catch (...) {
            // A destructor cannot report the failure; Flush() is the checked way.
        }
    }
}

void TGBufferStream::NoStream() {
    throw EStreamError("The stream has no underlying stream");
}

bool TGBufferStream::FillBuffer() {
    int64_t n = FStream ? FStream->Read(FBuffer.get(), BufferSize) : 0;
    if (n < 0) n = 0;
    FCurrent = FBuffer.get();
    FBufferEnd = FCurrent + n;
    FMode = n > 0 ? 1 : 0;
    if (OnBufferFilled) OnBufferFilled(this);
    return n > 0;
}

bool TGBufferStream::FlushBuffer() {
    const int64_t pending = FCurrent ? FCurrent - FBuffer.get() : 0;
    int64_t written = 0;
    if (pending > 0 && FStream) written = FStream->Write(FBuffer.get(), pending);
    // Idle afterwards: nothing to read and nothing pending, so no stale byte can be delivered.
    FCurrent = FBufferEnd = FBuffer.get();
    FMode = 0;
    if (OnBufferFlushed) OnBufferFlushed(this);
    return written == pending;
}

void TGBufferStream::Flush() {
    if (FMode == 2 && !FlushBuffer()) throw EStreamError("Stream write error");
}

int64_t TGBufferStream::LogicalPosition() {
    if (!FStream) NoStream();
    const int64_t position = FStream->Position();
    switch (FMode) {
    case 0:
        return position;
    case 1:
        return position - (FBufferEnd - FCurrent);
    case 2:
        return position + (FCurrent - FBuffer.get());
    default:
        throw EStreamError("Invalid buffer state");
    }
}

int64_t TGBufferStream::Read(void* buffer, int64_t count) {
    if (FMode == 2)
        Flush();
    else if (!FCurrent)
        FCurrent = FBufferEnd = FBuffer.get();
    if (count <= 0) return 0;
    char* out = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        if (FCurrent == FBufferEnd && !FillBuffer()) break;
        const int64_t n = std::min<int64_t>(FBufferEnd - FCurrent, count - done);
        std::memcpy(out + done, FCurrent, static_cast<size_t>(n));
        FCurrent += n;
        done += n;
    }
    return done;
}

int64_t TGBufferStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    if (!FStream) NoStream();
    if (FReadOnly) throw EStreamError("Stream is open for reading only");
    char* const start = FBuffer.get();
    if (FMode != 2) {
        // Output belongs where the reader stopped, not behind the read-ahead.
        if (FMode == 1) FStream->SetPosition(LogicalPosition());
        FCurrent = start;
    }
    FBufferEnd = start + BufferSize;
    const char* in = static_cast<const char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const int64_t n = std::min<int64_t>(FBufferEnd - FCurrent, count - done);
        std::memcpy(FCurrent, in + done, static_cast<size_t>(n));
        FCurrent += n;
        done += n;
        if (FCurrent == FBufferEnd) {
            if (!FlushBuffer()) throw EStreamError("Stream write error");
            FBufferEnd = start + BufferSize;
        }
    }
    if (FCurrent > start) {
        FMode = 2;
    } else {
        FMode = 0;
        FBufferEnd = start;
    }
    return done;
}

int64_t TGBufferStream::Seek(int64_t offset, int32_t origin) {
    if (!FStream) NoStream();
    if (origin == soFromEnd && FMode == 2 && !FlushBuffer())
        throw EStreamError("Error seeking in buffer");
    const int64_t current = LogicalPosition();
    int64_t target;
    switch (origin) {
    case soFromBeginning:
        target = offset;
        break;
    case soFromCurrent:
        target = current + offset;
        break;
    case soFromEnd:
        target = FStream->Size() - offset;
        break;
    default:
        throw EStreamError(Format("Invalid Origin Point specified: %s", IntToStr(origin)));
    }
    if (target != current) {
        if (FMode == 2 && !FlushBuffer()) throw EStreamError("Error seeking in buffer");
        FStream->SetPosition(target);
        FCurrent = FBufferEnd = nullptr;
        FMode = 0;
    }
    return target;
}

int64_t TGBufferStream::Size() {
    if (!FStream) NoStream();
    const int64_t size = FStream->Size();
    if (FMode != 2) return size;
    return std::max(size, FStream->Position() + (FCurrent - FBuffer.get()));
}

void TGBufferStream::PutBack(char ch) {
    if (FCurrent == nullptr || FCurrent == FBuffer.get())
        throw EStreamError("Overflow on push back");
    *--FCurrent = ch;
}

bool TGBufferStream::Eof() {
    if (!FStream) return true;
    if (FMode == 2) return FStream->Position() + (FCurrent - FBuffer.get()) >= FStream->Size();
    if (FCurrent != FBufferEnd) return false;
    return FStream->Position() >= FStream->Size();
}

// ---------------------------------------------------------------------------------------------
// TGTextStream

TGTextStream::TGTextStream(const std::string& fileName, uint16_t mode)
    : TGBufferStream(new TFileStream(fileName, mode)), FOwnsStream(true) {}

TGTextStream::~TGTextStream() {
    try {
        Flush();
    } catch (...) {
        // See ~TGBufferStream: CloseStream() is the checked way.
    }
    if (FOwnsStream) delete FStream;
    FStream = nullptr;
}

void TGTextStream::CloseStream() {
    if (FStream) {
        try {
            Flush();
        } catch (...) {
            if (FOwnsStream) delete FStream;
            FStream = nullptr;
            throw;
        }
    }
    if (FOwnsStream) delete FStream;
    FStream = nullptr;
}

char TGTextStream::ReadChar() {
    char ch;
    return NextByte(ch) ? ch : '\0';
}

bool TGTextStream::TryReadChar(char& ch) {
    ch = ReadChar();
    return ch != '\0' || !Eof();
}

bool TGTextStream::SkipBlanks() {
    char ch;
    for (;;) {
        if (!TryReadChar(ch)) return false;
        const auto code = static_cast<unsigned char>(ch);
        if (code > 32) {
            PutBack(ch);
            return false;
        }
        if (code == 13) {
            char next;
            if (TryReadChar(next) && next != 10) PutBack(next);
            return true;
        }
        if (code == 10) return true;
    }
}

void TGTextStream::ReadLn(std::string& s) {
    s.clear();
    char ch;
    while (TryReadChar(ch)) {
        if (ch == 10) return;
        if (ch == 13) {
            char next;
            if (TryReadChar(next) && next != 10) PutBack(next);
            return;
        }
        s.push_back(ch);
    }
}

void TGTextStream::WriteLn(std::string_view s) {
    WriteString(s);
    NewLine();
}

void TGTextStream::NewLine() {
    WriteString("\r\n");
}

} // namespace ie
