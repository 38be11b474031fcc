// Buffered streams: TGBufferStream puts an 8192-byte buffer in front of any stream and lets a
// reader put characters back; TGTextStream adds characters, lines and blanks for text and can
// own the file stream it works on. The rule-language scanner derives from TGTextStream.
//
// The buffer is in one of three modes. Invariants:
//   - mode 0 (idle): the buffer holds nothing; Current is null or equals BufferEnd;
//   - mode 1 (reading): Current..BufferEnd are bytes read ahead from the underlying stream and
//     not yet delivered; the underlying position is just past them;
//   - mode 2 (writing): Buffer..Current are bytes taken from the caller and not yet written;
//     they belong at the underlying position.
// So the logical position is the underlying one, minus the read-ahead, plus the pending output.
// Every switch between reading and writing goes through that position, so a read never sees
// stale bytes of the write buffer and a write after a read lands where the reader stopped.
#pragma once

#include "platform/Exceptions.h"
#include "platform/Streams.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace ie {

class TGBufferStream : public TStream {
public:
    static constexpr int32_t BufferSize = 8192;

    // `stream` is not owned; it must outlive this object (or be released by CloseStream).
    explicit TGBufferStream(TStream* stream);
    // Writes pending output; a failure cannot be reported from here, so call Flush() first
    // where it matters.
    ~TGBufferStream() override;

    std::string_view ClassName() const override { return "TGBufferStream"; }

    int64_t Read(void* buffer, int64_t count) override;
    // Takes all `count` bytes or raises EStreamError "Stream write error" when the underlying
    // stream refuses output.
    int64_t Write(const void* buffer, int64_t count) override;
    // Origins 0, 1 and 2; from the end a positive offset counts back ("Size - Offset").
    // Pending output is written first when the target moves or the origin is the end.
    int64_t Seek(int64_t offset, int32_t origin) override;
    // The underlying size, extended by pending output that lies past its end.
    int64_t Size() override;

    // Steps back one byte and stores `ch` there; "Overflow on push back" when nothing of the
    // current buffer fill has been consumed.
    void PutBack(char ch);
    // True when no read-ahead byte is left and the underlying stream is at its end.
    bool Eof();
    // Writes pending output now; raises EStreamError "Stream write error" on failure.
    void Flush();

    TStream* Stream() const { return FStream; }
    uint8_t Mode() const { return FMode; }
    // A stream opened for reading refuses output ("Stream is open for reading only") instead of
    // buffering bytes that the file would refuse later.
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value) { FReadOnly = value; }
    // A stream opened for writing only: its owner's readers refuse it rather than read what
    // lies past the output.
    bool WriteOnly() const { return FWriteOnly; }
    void SetWriteOnly(bool value) { FWriteOnly = value; }

    TNotifyEvent OnBufferFilled;
    TNotifyEvent OnBufferFlushed;

protected:
    // Refills the buffer from the underlying stream; True when at least one byte came.
    virtual bool FillBuffer();
    // Writes Buffer..Current to the underlying stream and leaves the buffer idle; True when
    // the underlying stream took every byte.
    virtual bool FlushBuffer();

    // The hot path of character reading: one byte from the read-ahead, else through Read.
    bool NextByte(char& ch) {
        if (FMode == 1 && FCurrent != FBufferEnd) {
            ch = *FCurrent++;
            return true;
        }
        return Read(&ch, 1) == 1;
    }
    // The read-ahead bytes not yet consumed (none unless reading), for scanners that take a
    // run of bytes at once; SkipBuffered consumes `count` of them.
    std::string_view BufferedBytes() const {
        if (FMode != 1 || !FCurrent) return {};
        return {FCurrent, static_cast<size_t>(FBufferEnd - FCurrent)};
    }
    void SkipBuffered(size_t count) { FCurrent += count; }

    TStream* FStream;

private:
    int64_t LogicalPosition();
    [[noreturn]] static void NoStream();

    std::unique_ptr<char[]> FBuffer;
    char* FCurrent = nullptr;
    char* FBufferEnd = nullptr;
    uint8_t FMode = 0;
    bool FReadOnly = false;
    bool FWriteOnly = false;
};

class TGTextStream : public TGBufferStream {
public:
    explicit TGTextStream(TStream* stream) : TGBufferStream(stream) {}
    // Opens `fileName` with a TFileMode and owns the file stream.
    TGTextStream(const std::string& fileName, uint16_t mode);
    // Writes pending output, then CloseStream.
    ~TGTextStream() override;

    std::string_view ClassName() const override { return "TGTextStream"; }

    bool OwnsStream() const { return FOwnsStream; }
    void SetOwnsStream(bool value) { FOwnsStream = value; }

    // Writes pending output (raising on failure), frees the underlying stream when owned, and
    // leaves the text stream without one either way.
    virtual void CloseStream();
    // Consumes blanks up to and including at most one line end (CR LF, LF or a lone CR);
    // True when a line end was consumed. Stops in front of the first character above blank.
    virtual bool SkipBlanks();
    // One character, or #0 when nothing could be read (Eof tells a real #0 from the end).
    virtual char ReadChar();
    // The characters up to the next CR, LF or CR LF (not included) or the end.
    virtual void ReadLn(std::string& s);
    void WriteChar(char ch) { Write(&ch, 1); }
    void WriteString(std::string_view s) {
        if (!s.empty()) Write(s.data(), static_cast<int64_t>(s.size()));
    }
    // WriteString, then NewLine.
    virtual void WriteLn(std::string_view s);
    // CR LF.
    virtual void NewLine();

protected:
    // A character through the virtual ReadChar; false at the end of the data.
    bool TryReadChar(char& ch);

private:
    bool FOwnsStream = false;
};

} // namespace ie
