#include "containers/GStreams.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

using namespace ie;

namespace {

std::string TextOf(TStringStream& s) {
    return s.DataString();
}

// A stream that accepts at most `Limit` bytes in all, like a full disk.
class TLimitedStream : public TMemoryStream {
public:
    explicit TLimitedStream(int64_t limit) : Limit(limit) {}
    int64_t Write(const void* buffer, int64_t count) override {
        const int64_t n = std::min(count, Limit - Size());
        return n <= 0 ? 0 : TMemoryStream::Write(buffer, n);
    }
    int64_t Limit;
};

std::string TempPath(const char* name) {
    return test::UniqueTempPath(name).string();
}

} // namespace

TEST(GBufferStream, LargeReadRefillsThreeTimesAndReachesEof) {
    std::string data(20000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>('a' + i % 26);
    const std::string path = TempPath("ie_gstreams_20000.bin");
    {
        TFileStream f(path, fmCreate);
        f.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    }
    TFileStream file(path, fmOpenRead);
    TGBufferStream s(&file);
    int fills = 0;
    s.OnBufferFilled = [&](TObject*) { ++fills; };
    std::string out(20000, '\0');
    EXPECT_EQ(s.Read(out.data(), 20000), 20000);
    EXPECT_EQ(out, data);
    EXPECT_EQ(fills, 3);
    EXPECT_TRUE(s.Eof());
    std::remove(path.c_str());
}

TEST(GBufferStream, PutBackNeedsAConsumedByte) {
    TStringStream src("xyz");
    TGBufferStream s(&src);
    EXPECT_THROW(
        {
            try {
                s.PutBack('a');
            } catch (const EStreamError& e) {
                EXPECT_STREQ(e.what(), "Overflow on push back");
                throw;
            }
        },
        EStreamError);
    char c;
    ASSERT_EQ(s.Read(&c, 1), 1);
    s.PutBack('Q'); // need not be the character read
    ASSERT_EQ(s.Read(&c, 1), 1);
    EXPECT_EQ(c, 'Q');
    ASSERT_EQ(s.Read(&c, 1), 1);
    EXPECT_EQ(c, 'y');
}

TEST(GBufferStream, SeekOrigins) {
    TStringStream src("0123456789");
    TGBufferStream s(&src);
    EXPECT_EQ(s.Seek(3, soFromEnd), 7); // counts back from the end
    char c;
    ASSERT_EQ(s.Read(&c, 1), 1);
    EXPECT_EQ(c, '7');
    EXPECT_EQ(s.Position(), 8);
    EXPECT_EQ(s.Seek(-2, soFromCurrent), 6);
    ASSERT_EQ(s.Read(&c, 1), 1);
    EXPECT_EQ(c, '6');
    try {
        s.Seek(0, 5);
        FAIL();
    } catch (const EStreamError& e) {
        EXPECT_STREQ(e.what(), "Invalid Origin Point specified: 5");
    }
}

TEST(GBufferStream, ReadingPositionKeepsTheReadAhead) {
    TStringStream src("abcdef");
    TGBufferStream s(&src);
    char c;
    s.Read(&c, 1);
    EXPECT_EQ(s.Position(), 1);
    s.PutBack(c); // still possible: the position query did not drop the buffer
    EXPECT_EQ(s.Position(), 0);
}

TEST(GBufferStream, WritingNineThousandBytesFlushesTwice) {
    TStringStream dst;
    int flushes = 0;
    {
        TGBufferStream s(&dst);
        s.OnBufferFlushed = [&](TObject*) { ++flushes; };
        std::string data(9000, 'k');
        EXPECT_EQ(s.Write(data.data(), 9000), 9000);
        EXPECT_EQ(dst.Size(), 8192);
        EXPECT_EQ(s.Size(), 9000);
    }
    EXPECT_EQ(dst.Size(), 9000);
    EXPECT_EQ(flushes, 2);
}

TEST(GBufferStream, ReadAfterWriteSeesNoStaleBufferBytes) {
    TStringStream dst;
    TGBufferStream s(&dst);
    s.Write("hello", 5);
    char buf[8] = {};
    // At the end of the data: nothing to read, not the bytes just written.
    EXPECT_EQ(s.Read(buf, 5), 0);
    EXPECT_EQ(TextOf(dst), "hello");
    s.Seek(0, soFromBeginning);
    EXPECT_EQ(s.Read(buf, 8), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
}

TEST(GBufferStream, WriteAfterReadingToTheEndAppends) {
    TStringStream src("abc");
    TGBufferStream s(&src);
    char buf[8];
    EXPECT_EQ(s.Read(buf, 8), 3);
    EXPECT_EQ(s.Read(buf, 1), 0);
    EXPECT_EQ(s.Write("de", 2), 2);
    s.Flush();
    EXPECT_EQ(src.DataString(), "abcde");
}

TEST(GBufferStream, WriteAfterPartialReadLandsAtTheReadPosition) {
    TStringStream src("abcdef");
    TGBufferStream s(&src);
    char buf[2];
    s.Read(buf, 2);
    s.Write("XY", 2);
    s.Flush();
    EXPECT_EQ(src.DataString(), "abXYef");
    EXPECT_EQ(s.Position(), 4);
    char c;
    ASSERT_EQ(s.Read(&c, 1), 1);
    EXPECT_EQ(c, 'e');
}

TEST(GBufferStream, SeekFromTheEndFlushesPendingOutputFirst) {
    TStringStream dst;
    TGBufferStream s(&dst);
    s.Write("0123456789", 10);
    EXPECT_EQ(s.Seek(4, soFromEnd), 6);
    char buf[4];
    EXPECT_EQ(s.Read(buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "6789");
}

TEST(GBufferStream, RefusedOutputRaises) {
    TLimitedStream dst(100);
    TGBufferStream s(&dst);
    std::string data(9000, 'z');
    EXPECT_THROW(s.Write(data.data(), 9000), EStreamError);

    TLimitedStream small(3);
    TGBufferStream t(&small);
    EXPECT_EQ(t.Write("abcdef", 6), 6); // pending in the buffer
    EXPECT_THROW(t.Flush(), EStreamError);
    TLimitedStream small2(3);
    TGBufferStream u(&small2);
    u.Write("abcdef", 6);
    try {
        u.Seek(0, soFromBeginning);
        FAIL();
    } catch (const EStreamError& e) {
        EXPECT_STREQ(e.what(), "Error seeking in buffer");
    }
}

TEST(GTextStream, ReadLnLineEnds) {
    struct Case {
        const char* text;
        const char* first;
        const char* second;
    } cases[] = {{"ab\r\ncd", "ab", "cd"}, {"ab\rcd", "ab", "cd"}, {"ab\n\n", "ab", ""}};
    for (const Case& c : cases) {
        TStringStream src(c.text);
        TGTextStream t(&src);
        std::string line;
        t.ReadLn(line);
        EXPECT_EQ(line, c.first) << c.text;
        t.ReadLn(line);
        EXPECT_EQ(line, c.second) << c.text;
    }
}

TEST(GTextStream, SkipBlanks) {
    {
        TStringStream src("   \tx");
        TGTextStream t(&src);
        EXPECT_FALSE(t.SkipBlanks());
        EXPECT_EQ(t.ReadChar(), 'x');
    }
    {
        TStringStream src("  \r\n y");
        TGTextStream t(&src);
        EXPECT_TRUE(t.SkipBlanks());
        EXPECT_EQ(t.ReadChar(), ' ');
    }
    {
        TStringStream src("a\rb");
        TGTextStream t(&src);
        EXPECT_EQ(t.ReadChar(), 'a');
        EXPECT_TRUE(t.SkipBlanks()); // a lone CR ends the line; b stays
        EXPECT_EQ(t.ReadChar(), 'b');
    }
    {
        TStringStream src("  ");
        TGTextStream t(&src);
        EXPECT_FALSE(t.SkipBlanks());
        EXPECT_TRUE(t.Eof());
    }
}

TEST(GTextStream, ReadCharAtTheEndGivesZero) {
    TStringStream src(std::string("a\0", 2));
    TGTextStream t(&src);
    EXPECT_EQ(t.ReadChar(), 'a');
    EXPECT_FALSE(t.Eof());
    EXPECT_EQ(t.ReadChar(), '\0'); // a real #0
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(t.ReadChar(), '\0');
}

TEST(GTextStream, WriteLnAndOwnedFile) {
    TStringStream dst;
    {
        TGTextStream t(&dst);
        t.WriteLn("x");
    }
    EXPECT_EQ(dst.DataString(), "x\r\n");

    const std::string path = TempPath("ie_gtextstream.txt");
    {
        TGTextStream t(path, fmCreate);
        EXPECT_TRUE(t.OwnsStream());
        t.WriteString("line one");
        t.NewLine();
        t.WriteChar('2');
        t.CloseStream(); // pending output is written before the stream goes
        EXPECT_EQ(t.Stream(), nullptr);
    }
    TGTextStream r(path, fmOpenRead);
    std::string line;
    r.ReadLn(line);
    EXPECT_EQ(line, "line one");
    r.ReadLn(line);
    EXPECT_EQ(line, "2");
    EXPECT_TRUE(r.Eof());
    std::remove(path.c_str());
}

TEST(GTextStream, MissingFileRaises) {
    EXPECT_THROW(TGTextStream("/nonexistent/dir/file.txt", fmOpenRead), EFOpenError);
}
