// The stream base's size and all-or-nothing transfers, and the file, memory and string streams.
// File reads and writes retry interrupted system calls and return only what was transferred; a
// directory is refused on open, so an open file stream never holds a handle that fails later.
#include "platform/Streams.h"

#include "platform/Format.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ie {

// ---------------------------------------------------------------------------------------------
// TStream

int64_t TStream::Size() {
    int64_t pos = Seek(0, soFromCurrent);
    int64_t size = Seek(0, soFromEnd);
    Seek(pos, soFromBeginning);
    return size;
}

void TStream::SetSize(int64_t size) {
    (void)size;
    throw EStreamError(Format("%s cannot change its size", ClassName()));
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count != 0 && Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count != 0 && Write(buffer, count) != count) throw EStreamError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    const int64_t result = count;
    char chunk[8192];
    while (count > 0) {
        int64_t n = std::min<int64_t>(count, sizeof chunk);
        source.ReadBuffer(chunk, n);
        WriteBuffer(chunk, n);
        count -= n;
    }
    return result;
}

void TStream::InvalidOrigin(int32_t origin) {
    throw EStreamError(Format("Invalid seek origin %d", origin));
}

// ---------------------------------------------------------------------------------------------
// TFileStream

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : FFileName(fileName) {
    if (mode == fmCreate) {
        FHandle = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (FHandle < 0)
            throw EFCreateError(
                Format("Cannot create file \"%s\". %s", fileName, std::strerror(errno)));
        return;
    }
    int flags = O_CLOEXEC;
    switch (mode & 0x0003) {
    case fmOpenWrite:
        flags |= O_WRONLY;
        break;
    case fmOpenReadWrite:
        flags |= O_RDWR;
        break;
    default:
        flags |= O_RDONLY;
        break;
    }
    if ((mode & fmAppend) && (mode & 0x0003) != fmOpenRead) flags |= O_APPEND | O_CREAT;
    FHandle = ::open(fileName.c_str(), flags, 0666);
    if (FHandle >= 0) {
        // A directory opens for reading on this platform but is no file to stream.
        struct stat st {};
        if (::fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(FHandle);
            FHandle = -1;
            errno = EISDIR;
        }
    }
    if (FHandle < 0)
        throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName, std::strerror(errno)));
}

TFileStream::~TFileStream() {
    if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t done = 0;
    char* p = static_cast<char*>(buffer);
    while (done < count) {
        ssize_t n = ::read(FHandle, p + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    int64_t done = 0;
    const char* p = static_cast<const char*>(buffer);
    while (done < count) {
        ssize_t n = ::write(FHandle, p + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, int32_t origin) {
    int whence;
    switch (origin) {
    case soFromBeginning:
        whence = SEEK_SET;
        break;
    case soFromCurrent:
        whence = SEEK_CUR;
        break;
    case soFromEnd:
        whence = SEEK_END;
        break;
    default:
        InvalidOrigin(origin);
    }
    off_t pos = ::lseek(FHandle, static_cast<off_t>(offset), whence);
    if (pos < 0) throw EStreamError(Format("Cannot seek in file \"%s\"", FFileName));
    return pos;
}

int64_t TFileStream::Size() {
    struct stat st {};
    if (::fstat(FHandle, &st) != 0) return TStream::Size();
    return st.st_size;
}

void TFileStream::SetSize(int64_t size) {
    if (size < 0 || ::ftruncate(FHandle, static_cast<off_t>(size)) != 0)
        throw EStreamError(Format("Cannot change the size of file \"%s\"", FFileName));
}

// ---------------------------------------------------------------------------------------------
// TMemoryStream

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const auto size = static_cast<int64_t>(FData.size());
    if (count <= 0 || FPosition >= size) return 0;
    int64_t n = std::min(count, size - FPosition);
    std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    const int64_t end = FPosition + count;
    if (end > static_cast<int64_t>(FData.size())) FData.resize(static_cast<size_t>(end), '\0');
    std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
    FPosition = end;
    return count;
}

int64_t TStream::SeekTarget(int64_t offset, int32_t origin, int64_t position, int64_t size) {
    int64_t target;
    switch (origin) {
    case soFromBeginning:
        target = offset;
        break;
    case soFromCurrent:
        target = position + offset;
        break;
    case soFromEnd:
        target = size + offset;
        break;
    default:
        InvalidOrigin(origin);
    }
    if (target < 0) throw EStreamError("Stream position cannot be negative");
    return target;
}

int64_t TMemoryStream::Seek(int64_t offset, int32_t origin) {
    FPosition = SeekTarget(offset, origin, FPosition, Size());
    return FPosition;
}

void TMemoryStream::SetSize(int64_t size) {
    if (size < 0) throw EStreamError("Stream size cannot be negative");
    FData.resize(static_cast<size_t>(size), '\0');
    if (FPosition > size) FPosition = size;
}

void TMemoryStream::Clear() {
    FData.clear();
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
    stream.SetPosition(0);
    const int64_t size = stream.Size();
    std::string data(static_cast<size_t>(size), '\0');
    stream.ReadBuffer(data.data(), size);
    FData = std::move(data);
    FPosition = 0;
}

void TMemoryStream::SaveToStream(TStream& stream) const {
    stream.WriteBuffer(FData.data(), static_cast<int64_t>(FData.size()));
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& fileName) const {
    TFileStream file(fileName, fmCreate);
    SaveToStream(file);
}

// ---------------------------------------------------------------------------------------------
// TStringStream

std::string TStringStream::ReadString(int64_t count) {
    const int64_t size = Size();
    if (count <= 0 || FPosition >= size) return {};
    int64_t n = std::min(count, size - FPosition);
    std::string result = FData.substr(static_cast<size_t>(FPosition), static_cast<size_t>(n));
    FPosition += n;
    return result;
}

} // namespace ie
