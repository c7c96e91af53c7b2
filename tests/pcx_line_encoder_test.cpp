#include "pcx/pcx_line_encoder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pcx/pcx_writer.h"
#include "tests/pcx_reference_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

using LineEncoder = size_t (*)(const uint8_t*, size_t, uint8_t*);

Bytes EncodeLines(LineEncoder encode, const Bytes& indices, size_t width) {
    Bytes out;
    Bytes line(2 * width);
    for (size_t start = 0; start < indices.size(); start += width) {
        const size_t used = encode(indices.data() + start, width, line.data());
        out.insert(out.end(), line.begin(), line.begin() + static_cast<std::ptrdiff_t>(used));
    }
    return out;
}

Bytes Noisy(std::minstd_rand& random, size_t size) {
    Bytes bytes(size);
    for (uint8_t& b : bytes) {
        b = static_cast<uint8_t>(random() >> 4);
    }
    return bytes;
}

// Runs of 1 to 140 equal bytes, often of values that need escaping.
Bytes RunHeavy(std::minstd_rand& random, size_t size) {
    Bytes bytes;
    while (bytes.size() < size) {
        const auto value = static_cast<uint8_t>(random() % 2 == 0 ? 0xBE + random() % 4 : random());
        const size_t length = random() % 4 == 0 ? random() % 140 + 1 : random() % 4 + 1;
        bytes.insert(bytes.end(), std::min(length, size - bytes.size()), value);
    }
    return bytes;
}

// Two values taking turns, with a pair of equal bytes dropped in now and then.
Bytes Alternating(std::minstd_rand& random, size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i % 2 == 0 ? 0xC0 : 0x3F);
        if (i > 0 && random() % 23 == 0) {
            bytes[i] = bytes[i - 1];
        }
    }
    return bytes;
}

TEST(PcxLineEncoderTest, MatchesTheReferenceEncoder) {
    std::minstd_rand random(2718);
    const size_t widths[] = {1, 2, 3, 15, 16, 17, 18, 31, 32, 33, 63, 64, 65, 127, 129, 1001};
    struct Kind {
        const char* name;
        Bytes (*make)(std::minstd_rand&, size_t);
    };
    const Kind kinds[] = {{"noisy", Noisy}, {"run-heavy", RunHeavy}, {"alternating", Alternating}};
    const std::pair<const char*, LineEncoder> encoders[] = {
        {"dispatched", EncodePcxLine}, {"without SSSE3", EncodePcxLineWithoutSsse3}};
    for (const auto& [encoderName, encode] : encoders) {
        for (const Kind& kind : kinds) {
            for (size_t width : widths) {
                SCOPED_TRACE(::testing::Message()
                             << encoderName << ", " << kind.name << ", width " << width);
                const Bytes indices = kind.make(random, width * 7);
                EXPECT_EQ(EncodeLines(encode, indices, width), ReferencePcxEncode(indices, width));
            }
        }
    }
}

TEST(PcxLineEncoderTest, RunsOfEveryLengthAroundTheLimit) {
    for (const uint8_t value : {uint8_t{0x05}, uint8_t{0xC8}}) {
        for (size_t length = 1; length <= 200; ++length) {
            SCOPED_TRACE(::testing::Message() << "value " << int{value} << ", length " << length);
            Bytes line(length, value);
            line.push_back(static_cast<uint8_t>(value + 1));  // ends the run inside the line
            EXPECT_EQ(EncodeLines(EncodePcxLine, line, line.size()),
                      ReferencePcxEncode(line, line.size()));
            EXPECT_EQ(EncodeLines(EncodePcxLineWithoutSsse3, line, line.size()),
                      ReferencePcxEncode(line, line.size()));
        }
    }
}

class CollectingSink final : public ByteSink {
public:
    int Write(const uint8_t* data, size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return 1;
    }
    Bytes bytes;
};

TEST(PcxLineEncoderTest, ImageRunsNeverCrossLines) {
    std::minstd_rand random(31);
    for (uint16_t width : {uint16_t{1}, uint16_t{5}, uint16_t{64}, uint16_t{65}, uint16_t{333}}) {
        SCOPED_TRACE(width);
        const Bytes indices = RunHeavy(random, static_cast<size_t>(width) * 9);
        CollectingSink sink;
        ASSERT_EQ(EncodePcxImage(indices.data(), width, 9, sink), 1);
        EXPECT_EQ(sink.bytes, ReferencePcxEncode(indices, width));
    }
}

}  // namespace
