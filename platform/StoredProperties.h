// The stored form of component properties: a tagged binary encoding written by TWriter and
// read back by TReader over any TStream.
//
// Every value starts with one TValueType byte; integers, lengths and floats follow in
// little-endian order whatever the host, so a stored form reads back the same everywhere.
// Lists are a vaList byte, the values, and a vaNull byte. A property is its name (a length and
// the bytes, no tag) followed by one value or a list. A stored object is the sequence of its
// properties closed by vaNull. Anything the reader does not recognise raises EReadError; it
// never reads past the stream or allocates more than the stream holds.
#pragma once

#include "platform/Component.h"
#include "platform/Exceptions.h"
#include "platform/Streams.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ie {

class TReader;
class TWriter;

enum class TValueType : uint8_t {
    vaNull = 0, // end of a list
    vaList = 1,
    vaInt8 = 2,
    vaInt16 = 3,
    vaInt32 = 4,
    vaInt64 = 5,
    vaDouble = 6,
    vaString = 7,
    vaIdent = 8,
    vaFalse = 9,
    vaTrue = 10,
    vaBinary = 11,
};

class EFilerError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EReadError : public EFilerError {
public:
    using EFilerError::EFilerError;
};
class EWriteError : public EFilerError {
public:
    using EFilerError::EFilerError;
};

using TReaderProc = std::function<void(TReader&)>;
using TWriterProc = std::function<void(TWriter&)>;
using TStreamProc = std::function<void(TStream&)>;

// What a persistent object sees in DefineProperties: declare each stored property with the
// routine that reads it, the routine that writes it, and whether it has anything to write.
class TFiler {
public:
    explicit TFiler(TStream& stream) : FStream(stream) {}
    TFiler(const TFiler&) = delete;
    TFiler& operator=(const TFiler&) = delete;
    virtual ~TFiler() = default;

    virtual void DefineProperty(std::string_view name, const TReaderProc& readData,
                                const TWriterProc& writeData, bool hasData) = 0;
    // A property stored as one binary block that the routines read from and write to a stream.
    virtual void DefineBinaryProperty(std::string_view name, const TStreamProc& readData,
                                      const TStreamProc& writeData, bool hasData) = 0;

    TStream& Stream() const { return FStream; }

protected:
    TStream& FStream;
};

class TWriter : public TFiler {
public:
    explicit TWriter(TStream& stream) : TFiler(stream) {}

    void DefineProperty(std::string_view name, const TReaderProc& readData,
                        const TWriterProc& writeData, bool hasData) override;
    void DefineBinaryProperty(std::string_view name, const TStreamProc& readData,
                              const TStreamProc& writeData, bool hasData) override;

    void WriteListBegin() { WriteValue(TValueType::vaList); }
    void WriteListEnd() { WriteValue(TValueType::vaNull); }
    // Integers take the smallest tag that holds them.
    void WriteInteger(int64_t value);
    void WriteFloat(double value);
    void WriteString(std::string_view value);
    void WriteIdent(std::string_view value);
    void WriteBoolean(bool value) { WriteValue(value ? TValueType::vaTrue : TValueType::vaFalse); }
    void WriteBinary(std::string_view bytes);
    // A list of strings: vaList, one vaString per item, vaNull.
    void WriteStrings(const std::vector<std::string>& items);
    // A property name, to be followed by its value.
    void WritePropName(std::string_view name) { WriteStr(name); }

    // The stored properties of `instance` (its DefineProperties), closed by vaNull.
    void WriteProperties(TPersistent& instance);
    // A component: its class name, its name, then its properties.
    void WriteComponent(TComponent& component);

private:
    void WriteValue(TValueType type);
    void WriteStr(std::string_view s);
    void WriteRaw(const void* data, size_t size) {
        FStream.WriteBuffer(data, static_cast<int64_t>(size));
    }
};

class TReader : public TFiler {
public:
    explicit TReader(TStream& stream) : TFiler(stream) {}

    void DefineProperty(std::string_view name, const TReaderProc& readData,
                        const TWriterProc& writeData, bool hasData) override;
    void DefineBinaryProperty(std::string_view name, const TStreamProc& readData,
                              const TStreamProc& writeData, bool hasData) override;

    // The type of the next value, without consuming it.
    TValueType NextValue();
    // True (and the vaNull consumed) at the end of a list.
    bool EndOfList();

    void ReadListBegin() { CheckValue(TValueType::vaList); }
    void ReadListEnd() { CheckValue(TValueType::vaNull); }
    int32_t ReadInteger();
    int64_t ReadInt64();
    // A float; an integer value is read as a float too.
    double ReadFloat();
    std::string ReadString();
    // An identifier; the Boolean values read as "False" and "True".
    std::string ReadIdent();
    bool ReadBoolean();
    std::string ReadBinary();
    std::vector<std::string> ReadStrings();
    std::string ReadPropName() { return ReadStr(); }
    // Skips one value (a whole list for vaList).
    void SkipValue();

    // Reads properties into `instance` until vaNull; a property that `instance` does not
    // define raises EReadError "Property %s does not exist".
    void ReadProperties(TPersistent& instance);
    // Re-creates a component written by TWriter::WriteComponent: the class is found by name in
    // the class registry ("Class %s not found") and created with `owner`.
    TComponent* ReadComponent(TComponent* owner);

private:
    uint8_t ReadByte();
    TValueType ReadValue();
    void CheckValue(TValueType expected);
    std::string ReadStr();
    uint32_t ReadLength();
    void ReadRaw(void* data, size_t size);
    // Refuses a length longer than what is left in the stream.
    void CheckRemaining(uint64_t size);
    [[noreturn]] static void PropValueError();

    int FPeeked = -1;
    std::string FPropName;
    bool FPropHandled = false;
};

} // namespace ie
