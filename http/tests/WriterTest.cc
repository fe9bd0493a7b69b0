#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "file/Exception.h"
#include "http/BoundedDataWriter.h"
#include "http/StringstreamWriter.h"
#include "http/tests/TestWriters.h"

namespace vrexa::http {
namespace {

using testing::MemoryBoundedData;

TEST(StringstreamWriterTest, WritesIntoTheStreamUntilItFails) {
    std::ostringstream stream;
    StringstreamWriter writer(&stream);

    const RequestStatus empty = writer.Write("", 0);
    EXPECT_EQ(empty.state, State::Succeeded);
    EXPECT_EQ(empty.bytes, 0u);

    const RequestStatus written = writer.Write("abc\0d", 5);
    EXPECT_EQ(written.state, State::Succeeded);
    EXPECT_EQ(written.bytes, 5u);
    EXPECT_EQ(stream.str(), std::string("abc\0d", 5));

    stream.setstate(std::ios::failbit);
    const RequestStatus failed = writer.Write("e", 1);
    EXPECT_EQ(failed.state, State::WriteError);
    EXPECT_EQ(failed.bytes, 0u);
}

// A stream buffer that takes nothing, as a full disk under a file stream.
class RefusingBuffer : public std::streambuf {
protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST(StringstreamWriterTest, StreamThatThrowsIsContained) {
    RefusingBuffer buffer;
    std::ostream stream(&buffer);
    stream.exceptions(std::ios::badbit | std::ios::failbit);
    StringstreamWriter writer(&stream);
    EXPECT_EQ(writer.Write("x", 1).state, State::WriteError);
}

// A region whose writes throw what the test asks for.
class ThrowingBoundedData : public file::BoundedData {
public:
    explicit ThrowingBoundedData(std::function<void()> fail) : BoundedData(0, 99), fail_(std::move(fail)) {}
    std::uint64_t GetPosition() override { return 0; }
    void Seek(std::uint64_t) override {}
    std::size_t Read(void*, std::size_t) override { return 0; }
    std::size_t Write(const void*, std::size_t) override {
        fail_();
        return 0;
    }

private:
    std::function<void()> fail_;
};

TEST(BoundedDataWriterTest, ExceptionsOfTheRegionBecomeStates) {
    struct Case {
        const char* name;
        std::function<void()> fail;
        State state;
    };
    const Case cases[] = {
        {"out of bounds", [] { throw file::OutOfBoundsException(); }, State::RangeError},
        {"out of memory", [] { throw std::bad_alloc(); }, State::OutOfMemory},
        {"invalid map", [] { throw file::InvalidMapException(); }, State::WriteError},
        {"anything else", [] { throw 7; }, State::WriteError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ThrowingBoundedData data(c.fail);
        BoundedDataWriter writer(&data);
        const RequestStatus status = writer.Write("abc", 3);
        EXPECT_EQ(status.state, c.state);
        EXPECT_EQ(status.bytes, 0u);
    }
}

TEST(BoundedDataWriterTest, ReportsWhatTheRegionTook) {
    MemoryBoundedData data(10, 19);
    BoundedDataWriter writer(&data);

    EXPECT_EQ(writer.Write("", 0).state, State::Succeeded);
    EXPECT_EQ(data.GetPosition(), 10u);

    const RequestStatus whole = writer.Write("0123", 4);
    EXPECT_EQ(whole.state, State::Succeeded);
    EXPECT_EQ(whole.bytes, 4u);

    data.SetWriteLimit(2);
    const RequestStatus partial = writer.Write("4567", 4);
    EXPECT_EQ(partial.state, State::WriteError);
    EXPECT_EQ(partial.bytes, 2u);

    data.SetWriteLimit(0);
    // Fills the region up to its upper bound; one byte more is out of bounds.
    EXPECT_EQ(writer.Write("6789", 4).state, State::Succeeded);
    const RequestStatus beyond = writer.Write("X", 1);
    EXPECT_EQ(beyond.state, State::RangeError);
    EXPECT_EQ(beyond.bytes, 0u);
    EXPECT_EQ(data.Bytes(), "0123456789");
}

}  // namespace
}  // namespace vrexa::http
