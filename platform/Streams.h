// Byte streams: the abstract TStream and its file, memory and string forms.
//
// A stream is a sequence of bytes with a position. Read and Write move the position by the
// number of bytes they return; Seek sets it. Positions and counts are 64-bit. ReadBuffer and
// WriteBuffer are the all-or-nothing forms: a short transfer raises EStreamError.
#pragma once

#include "platform/Component.h"
#include "platform/Exceptions.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace ie {

// Seek origins, by number: from the beginning, from the current position, from the end.
enum TSeekOrigin : int32_t { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

// File open modes: one access mode, optionally or-ed with share flags (accepted and ignored:
// this platform does not lock files). fmCreate creates the file or truncates it, read/write.
// fmAppend, with a writing access mode, creates a missing file and puts every write at the end
// of the file as it is then, so several streams appending to one file keep each other's text.
enum TFileMode : uint16_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmAppend = 0x0004,
    fmShareCompat = 0x0000,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFF00,
};

class EFileStreamError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFCreateError : public EFileStreamError {
public:
    using EFileStreamError::EFileStreamError;
};
class EFOpenError : public EFileStreamError {
public:
    using EFileStreamError::EFileStreamError;
};

class TStream : public TObject {
public:
    std::string_view ClassName() const override { return "TStream"; }

    // Reads up to `count` bytes; returns how many came (0 at the end).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes up to `count` bytes; returns how many were taken.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Moves the position (origin soFromEnd: the size plus `offset`) and returns it.
    virtual int64_t Seek(int64_t offset, int32_t origin) = 0;

    int64_t Position() { return Seek(0, soFromCurrent); }
    void SetPosition(int64_t position) { Seek(position, soFromBeginning); }
    // The number of bytes in the stream; the position is kept.
    virtual int64_t Size();
    // Truncates or extends the stream; streams that cannot raise EStreamError.
    virtual void SetSize(int64_t size);

    // Exactly `count` bytes, or EStreamError "Stream read error" / "Stream write error".
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies `count` bytes from `source` (count 0: all of `source` from its beginning).
    int64_t CopyFrom(TStream& source, int64_t count);

protected:
    [[noreturn]] static void InvalidOrigin(int32_t origin);
    // Where a seek of a stream held in memory lands: `offset` from the origin, given the
    // stream's position and size; a target before the start raises EStreamError.
    static int64_t SeekTarget(int64_t offset, int32_t origin, int64_t position, int64_t size);
};

class TFileStream : public TStream {
public:
    // Opens `fileName` with a TFileMode; raises EFCreateError "Cannot create file "%s". %s" or
    // EFOpenError "Cannot open file "%s". %s" (with the system's reason).
    TFileStream(const std::string& fileName, uint16_t mode);
    ~TFileStream() override;

    std::string_view ClassName() const override { return "TFileStream"; }
    const std::string& FileName() const { return FFileName; }

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, int32_t origin) override;
    int64_t Size() override;
    void SetSize(int64_t size) override;

private:
    std::string FFileName;
    int FHandle = -1;
};

// A stream over bytes held in memory. Seeking past the end is allowed; a write there fills
// the gap with zero bytes.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    std::string_view ClassName() const override { return "TMemoryStream"; }

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, int32_t origin) override;
    int64_t Size() override { return static_cast<int64_t>(FData.size()); }
    void SetSize(int64_t size) override;

    const char* Memory() const { return FData.data(); }
    void Clear();
    // Replaces the content with all of `stream` (from its beginning); position 0.
    void LoadFromStream(TStream& stream);
    void SaveToStream(TStream& stream) const;
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;

protected:
    std::string FData;
    int64_t FPosition = 0;
};

// A memory stream whose bytes are a text: created from a text, read back with DataString.
class TStringStream : public TMemoryStream {
public:
    explicit TStringStream(std::string_view data = {}) { FData.assign(data); }
    std::string_view ClassName() const override { return "TStringStream"; }

    const std::string& DataString() const { return FData; }
    // Up to `count` bytes from the position on, as text.
    std::string ReadString(int64_t count);
    void WriteString(std::string_view text) { WriteBuffer(text.data(), ssize(text)); }

private:
    static int64_t ssize(std::string_view s) { return static_cast<int64_t>(s.size()); }
};

} // namespace ie
