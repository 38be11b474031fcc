// TWriter and TReader, the two halves of the stored-property encoding. Numbers go through
// StoreLE/LoadLE byte by byte, never through memory, so the form is the same on every host; the
// reader checks every length against what the stream still holds before allocating, and a
// component whose properties fail to read is freed, not left half loaded with its owner.
#include "platform/StoredProperties.h"

#include "platform/ClassRegistry.h"
#include "platform/Format.h"

#include <bit>
#include <cstring>
#include <limits>
#include <utility>

namespace ie {

namespace {

template <class T> void StoreLE(uint8_t* out, T value) {
    using U = std::make_unsigned_t<T>;
    U u = static_cast<U>(value);
    for (size_t i = 0; i < sizeof(T); ++i)
        out[i] = static_cast<uint8_t>(u >> (8 * i));
}

template <class T> T LoadLE(const uint8_t* in) {
    using U = std::make_unsigned_t<T>;
    U u = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        u |= static_cast<U>(static_cast<U>(in[i]) << (8 * i));
    return static_cast<T>(u);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TWriter

void TWriter::DefineProperty(std::string_view name, const TReaderProc& readData,
                             const TWriterProc& writeData, bool hasData) {
    (void)readData;
    if (!hasData || !writeData) return;
    WritePropName(name);
    writeData(*this);
}

void TWriter::DefineBinaryProperty(std::string_view name, const TStreamProc& readData,
                                   const TStreamProc& writeData, bool hasData) {
    (void)readData;
    if (!hasData || !writeData) return;
    TMemoryStream block;
    writeData(block);
    WritePropName(name);
    WriteBinary(std::string_view(block.Memory(), static_cast<size_t>(block.Size())));
}

void TWriter::WriteValue(TValueType type) {
    const auto b = static_cast<uint8_t>(type);
    WriteRaw(&b, 1);
}

void TWriter::WriteStr(std::string_view s) {
    if (s.size() > std::numeric_limits<uint32_t>::max())
        throw EWriteError("Text too long for a stored property");
    uint8_t len[4];
    StoreLE(len, static_cast<uint32_t>(s.size()));
    WriteRaw(len, 4);
    WriteRaw(s.data(), s.size());
}

void TWriter::WriteInteger(int64_t value) {
    uint8_t buf[9];
    size_t n;
    if (value >= INT8_MIN && value <= INT8_MAX) {
        buf[0] = static_cast<uint8_t>(TValueType::vaInt8);
        StoreLE(buf + 1, static_cast<int8_t>(value));
        n = 2;
    } else if (value >= INT16_MIN && value <= INT16_MAX) {
        buf[0] = static_cast<uint8_t>(TValueType::vaInt16);
        StoreLE(buf + 1, static_cast<int16_t>(value));
        n = 3;
    } else if (value >= INT32_MIN && value <= INT32_MAX) {
        buf[0] = static_cast<uint8_t>(TValueType::vaInt32);
        StoreLE(buf + 1, static_cast<int32_t>(value));
        n = 5;
    } else {
        buf[0] = static_cast<uint8_t>(TValueType::vaInt64);
        StoreLE(buf + 1, value);
        n = 9;
    }
    WriteRaw(buf, n);
}

void TWriter::WriteFloat(double value) {
    uint8_t buf[9];
    buf[0] = static_cast<uint8_t>(TValueType::vaDouble);
    StoreLE(buf + 1, std::bit_cast<uint64_t>(value));
    WriteRaw(buf, 9);
}

void TWriter::WriteString(std::string_view value) {
    WriteValue(TValueType::vaString);
    WriteStr(value);
}

void TWriter::WriteIdent(std::string_view value) {
    WriteValue(TValueType::vaIdent);
    WriteStr(value);
}

void TWriter::WriteBinary(std::string_view bytes) {
    WriteValue(TValueType::vaBinary);
    WriteStr(bytes);
}

void TWriter::WriteStrings(const std::vector<std::string>& items) {
    WriteListBegin();
    for (const std::string& s : items)
        WriteString(s);
    WriteListEnd();
}

void TWriter::WriteProperties(TPersistent& instance) {
    instance.DefineProperties(*this);
    WriteListEnd();
}

void TWriter::WriteComponent(TComponent& component) {
    WriteStr(component.ClassName());
    WriteStr(component.Name());
    WriteProperties(component);
}

// ---------------------------------------------------------------------------------------------
// TReader

void TReader::DefineProperty(std::string_view name, const TReaderProc& readData,
                             const TWriterProc& writeData, bool hasData) {
    (void)writeData, (void)hasData;
    if (FPropHandled || !readData || !SameText(name, FPropName)) return;
    FPropHandled = true;
    readData(*this);
}

void TReader::DefineBinaryProperty(std::string_view name, const TStreamProc& readData,
                                   const TStreamProc& writeData, bool hasData) {
    (void)writeData, (void)hasData;
    if (FPropHandled || !readData || !SameText(name, FPropName)) return;
    FPropHandled = true;
    TMemoryStream block;
    const std::string bytes = ReadBinary();
    block.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    block.SetPosition(0);
    readData(block);
}

void TReader::PropValueError() {
    throw EReadError("Invalid property value");
}

void TReader::ReadRaw(void* data, size_t size) {
    if (size == 0) return;
    auto* out = static_cast<uint8_t*>(data);
    if (FPeeked >= 0) {
        *out++ = static_cast<uint8_t>(FPeeked);
        FPeeked = -1;
        --size;
    }
    FStream.ReadBuffer(out, static_cast<int64_t>(size));
}

uint8_t TReader::ReadByte() {
    uint8_t b;
    ReadRaw(&b, 1);
    return b;
}

void TReader::CheckRemaining(uint64_t size) {
    const int64_t left = FStream.Size() - FStream.Position() + (FPeeked >= 0 ? 1 : 0);
    if (left < 0 || size > static_cast<uint64_t>(left)) throw EReadError("Stream read error");
}

TValueType TReader::NextValue() {
    if (FPeeked < 0) {
        uint8_t b;
        FStream.ReadBuffer(&b, 1);
        FPeeked = b;
    }
    if (FPeeked > static_cast<int>(TValueType::vaBinary)) throw EReadError("Invalid stream format");
    return static_cast<TValueType>(FPeeked);
}

TValueType TReader::ReadValue() {
    TValueType t = NextValue();
    FPeeked = -1;
    return t;
}

void TReader::CheckValue(TValueType expected) {
    if (ReadValue() != expected) PropValueError();
}

bool TReader::EndOfList() {
    if (NextValue() != TValueType::vaNull) return false;
    FPeeked = -1;
    return true;
}

uint32_t TReader::ReadLength() {
    uint8_t len[4];
    ReadRaw(len, 4);
    uint32_t n = LoadLE<uint32_t>(len);
    CheckRemaining(n);
    return n;
}

std::string TReader::ReadStr() {
    uint32_t n = ReadLength();
    std::string s(n, '\0');
    ReadRaw(s.data(), n);
    return s;
}

int64_t TReader::ReadInt64() {
    uint8_t buf[8];
    switch (ReadValue()) {
    case TValueType::vaInt8:
        ReadRaw(buf, 1);
        return LoadLE<int8_t>(buf);
    case TValueType::vaInt16:
        ReadRaw(buf, 2);
        return LoadLE<int16_t>(buf);
    case TValueType::vaInt32:
        ReadRaw(buf, 4);
        return LoadLE<int32_t>(buf);
    case TValueType::vaInt64:
        ReadRaw(buf, 8);
        return LoadLE<int64_t>(buf);
    default:
        PropValueError();
    }
}

int32_t TReader::ReadInteger() {
    int64_t v = ReadInt64();
    if (v < INT32_MIN || v > INT32_MAX) PropValueError();
    return static_cast<int32_t>(v);
}

double TReader::ReadFloat() {
    if (NextValue() != TValueType::vaDouble) return static_cast<double>(ReadInt64());
    FPeeked = -1;
    uint8_t buf[8];
    ReadRaw(buf, 8);
    return std::bit_cast<double>(LoadLE<uint64_t>(buf));
}

std::string TReader::ReadString() {
    CheckValue(TValueType::vaString);
    return ReadStr();
}

std::string TReader::ReadIdent() {
    switch (ReadValue()) {
    case TValueType::vaIdent:
        return ReadStr();
    case TValueType::vaFalse:
        return "False";
    case TValueType::vaTrue:
        return "True";
    default:
        PropValueError();
    }
}

bool TReader::ReadBoolean() {
    switch (ReadValue()) {
    case TValueType::vaFalse:
        return false;
    case TValueType::vaTrue:
        return true;
    default:
        PropValueError();
    }
}

std::string TReader::ReadBinary() {
    CheckValue(TValueType::vaBinary);
    return ReadStr();
}

std::vector<std::string> TReader::ReadStrings() {
    std::vector<std::string> items;
    ReadListBegin();
    while (!EndOfList())
        items.push_back(ReadString());
    return items;
}

void TReader::SkipValue() {
    switch (NextValue()) {
    case TValueType::vaNull:
        PropValueError();
    case TValueType::vaList:
        ReadValue();
        while (!EndOfList())
            SkipValue();
        return;
    case TValueType::vaInt8:
    case TValueType::vaInt16:
    case TValueType::vaInt32:
    case TValueType::vaInt64:
        ReadInt64();
        return;
    case TValueType::vaDouble:
        ReadFloat();
        return;
    case TValueType::vaString:
    case TValueType::vaIdent:
    case TValueType::vaBinary: {
        ReadValue();
        uint32_t n = ReadLength();
        FStream.Seek(n, soFromCurrent);
        return;
    }
    case TValueType::vaFalse:
    case TValueType::vaTrue:
        ReadValue();
        return;
    }
}

void TReader::ReadProperties(TPersistent& instance) {
    while (!EndOfList()) {
        std::string name = ReadPropName();
        // Nested reads (a property holding objects) keep their own name and flag.
        std::string outerName = std::exchange(FPropName, std::move(name));
        bool outerHandled = std::exchange(FPropHandled, false);
        instance.DefineProperties(*this);
        const bool handled = FPropHandled;
        std::string propName = std::exchange(FPropName, std::move(outerName));
        FPropHandled = outerHandled;
        if (!handled) throw EReadError(Format("Property %s does not exist", propName));
    }
}

TComponent* TReader::ReadComponent(TComponent* owner) {
    const std::string className = ReadStr();
    const std::string name = ReadStr();
    const TClassInfo& info = FindClass(className);
    TComponent* component = info.CreateComponent(owner);
    try {
        component->BeginLoading();
        component->SetName(name);
        ReadProperties(*component);
        component->Loaded();
    } catch (...) {
        component->Free();
        throw;
    }
    return component;
}

} // namespace ie
