#include "platform/Streams.h"
#include "platform/ClassRegistry.h"
#include "platform/StoredProperties.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

using namespace ie;

TEST(Streams, MemoryStreamReadWriteSeek) {
    TMemoryStream m;
    m.WriteBuffer("abcdef", 6);
    EXPECT_EQ(m.Size(), 6);
    EXPECT_EQ(m.Seek(-2, soFromEnd), 4);
    char buf[4];
    EXPECT_EQ(m.Read(buf, 4), 2);
    EXPECT_THROW(m.ReadBuffer(buf, 1), EStreamError);
    m.SetPosition(8); // past the end: the gap fills with zeros
    m.WriteBuffer("z", 1);
    EXPECT_EQ(m.Size(), 9);
    EXPECT_EQ(m.Memory()[6], '\0');
    EXPECT_THROW(m.Seek(-1, soFromBeginning), EStreamError);
    EXPECT_THROW(m.Seek(0, 7), EStreamError);
    m.SetSize(3);
    EXPECT_EQ(m.Position(), 3);
}

TEST(Streams, StringStreamAndCopy) {
    TStringStream s("hello world");
    EXPECT_EQ(s.ReadString(5), "hello");
    s.SetPosition(6);
    s.WriteString("there");
    EXPECT_EQ(s.DataString(), "hello there");
    TStringStream copy;
    EXPECT_EQ(copy.CopyFrom(s, 0), 11);
    EXPECT_EQ(copy.DataString(), "hello there");
}

TEST(Streams, FileStreamModesAndErrors) {
    const std::string path = test::UniqueTempPath("ie_streams.bin").string();
    {
        TFileStream f(path, fmCreate);
        f.WriteBuffer("12345", 5);
    }
    {
        TFileStream f(path, fmOpenReadWrite);
        EXPECT_EQ(f.Size(), 5);
        f.Seek(0, soFromEnd);
        f.WriteBuffer("6", 1);
    }
    TMemoryStream m;
    m.LoadFromFile(path);
    EXPECT_EQ(std::string(m.Memory(), 6), "123456");
    {
        TFileStream r(path, fmOpenRead);
        EXPECT_THROW(r.WriteBuffer("x", 1), EStreamError); // read-only
    }
    std::remove(path.c_str());
    try {
        TFileStream f(path, fmOpenRead);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"" + path + "\".", 0), 0u);
    }
    EXPECT_THROW(TFileStream("/nonexistent/dir/x", fmCreate), EFCreateError);
}

namespace {

class TSample : public TComponent {
public:
    using TComponent::TComponent;
    std::string_view ClassName() const override { return "TSample"; }
    void DefineProperties(TFiler& filer) override {
        filer.DefineProperty(
            "Lines", [this](TReader& r) { Lines = r.ReadStrings(); },
            [this](TWriter& w) { w.WriteStrings(Lines); }, !Lines.empty());
        filer.DefineProperty(
            "Values",
            [this](TReader& r) {
                r.ReadListBegin();
                Small = r.ReadInteger();
                Big = r.ReadInt64();
                Real = r.ReadFloat();
                Flag = r.ReadBoolean();
                Ident = r.ReadIdent();
                Blob = r.ReadBinary();
                r.ReadListEnd();
            },
            [this](TWriter& w) {
                w.WriteListBegin();
                w.WriteInteger(Small);
                w.WriteInteger(Big);
                w.WriteFloat(Real);
                w.WriteBoolean(Flag);
                w.WriteIdent(Ident);
                w.WriteBinary(Blob);
                w.WriteListEnd();
            },
            true);
        filer.DefineBinaryProperty(
            "Raw", [this](TStream& s) { Raw = static_cast<TStringStream&>(s).ReadString(100); },
            [this](TStream& s) { s.WriteBuffer(Raw.data(), static_cast<int64_t>(Raw.size())); },
            !Raw.empty());
    }
    std::vector<std::string> Lines;
    int32_t Small = 0;
    int64_t Big = 0;
    double Real = 0;
    bool Flag = false;
    std::string Ident, Blob, Raw;
};

} // namespace

TEST(StoredProperties, RoundTripOfEveryKind) {
    RegisterClass<TSample>("TSample");
    TSample a(nullptr);
    a.SetName("Sample1");
    a.Lines = {"(a)", "", std::string("nul\0in", 6)};
    a.Small = -70000;
    a.Big = std::numeric_limits<int64_t>::min();
    a.Real = 0.1;
    a.Flag = true;
    a.Ident = "ssDepthFirst";
    a.Blob = std::string("\0\xff\x01", 3);
    a.Raw = "raw bytes";
    TMemoryStream m;
    {
        TWriter w(m);
        w.WriteComponent(a);
    }
    m.SetPosition(0);
    TComponent owner(nullptr);
    TReader r(m);
    auto* b = dynamic_cast<TSample*>(r.ReadComponent(&owner));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Owner(), &owner);
    EXPECT_EQ(b->Name(), "Sample1");
    EXPECT_FALSE(b->IsLoading());
    EXPECT_EQ(b->Lines, a.Lines);
    EXPECT_EQ(b->Small, -70000);
    EXPECT_EQ(b->Big, a.Big);
    EXPECT_EQ(b->Real, 0.1);
    EXPECT_TRUE(b->Flag);
    EXPECT_EQ(b->Ident, "ssDepthFirst");
    EXPECT_EQ(b->Blob, a.Blob);
    EXPECT_EQ(b->Raw, "raw bytes");
    EXPECT_EQ(m.Position(), m.Size());
}

TEST(StoredProperties, ReaderRefusesBadInput) {
    {
        TMemoryStream m;
        TWriter w(m);
        w.WritePropName("Nope");
        w.WriteInteger(1);
        w.WriteListEnd();
        m.SetPosition(0);
        TSample s(nullptr);
        TReader r(m);
        try {
            r.ReadProperties(s);
            FAIL();
        } catch (const EReadError& e) {
            EXPECT_STREQ(e.what(), "Property Nope does not exist");
        }
    }
    {
        TMemoryStream m;
        TWriter w(m);
        w.WriteString("text");
        m.SetPosition(0);
        TReader r(m);
        EXPECT_THROW(r.ReadInteger(), EReadError); // wrong kind
    }
    {
        // A length far beyond the data is refused before anything is allocated.
        TMemoryStream m;
        const unsigned char bytes[] = {7, 0xff, 0xff, 0xff, 0x7f, 'a'};
        m.WriteBuffer(bytes, sizeof bytes);
        m.SetPosition(0);
        TReader r(m);
        EXPECT_THROW(r.ReadString(), EReadError);
    }
    {
        TMemoryStream m;
        const unsigned char bytes[] = {200};
        m.WriteBuffer(bytes, 1);
        m.SetPosition(0);
        TReader r(m);
        EXPECT_THROW(r.SkipValue(), EReadError);
    }
    {
        TMemoryStream m;
        TWriter w(m);
        w.WriteInteger(int64_t(1) << 40);
        m.SetPosition(0);
        TReader r(m);
        EXPECT_THROW(r.ReadInteger(), EReadError); // does not fit 32 bits
    }
    {
        struct TUnregistered : TComponent {
            using TComponent::TComponent;
            std::string_view ClassName() const override { return "TUnregistered"; }
        } lost(nullptr);
        TMemoryStream m;
        TWriter w(m);
        w.WriteComponent(lost);
        m.SetPosition(0);
        TReader r(m);
        EXPECT_THROW(r.ReadComponent(nullptr), EClassNotFound);
    }
}

TEST(StoredProperties, SkipValueSkipsNestedLists) {
    TMemoryStream m;
    TWriter w(m);
    w.WriteListBegin();
    w.WriteStrings({"a", "b"});
    w.WriteFloat(2.5);
    w.WriteListEnd();
    w.WriteInteger(42);
    m.SetPosition(0);
    TReader r(m);
    r.SkipValue();
    EXPECT_EQ(r.ReadInteger(), 42);
    EXPECT_EQ(m.Position(), m.Size());
}
