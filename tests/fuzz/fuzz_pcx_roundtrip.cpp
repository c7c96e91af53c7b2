// Fuzzes the PCX encoder: the literal rule's bytes, which an independent decoder reads back.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "pcx/pcx_writer.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/pcx_decoder.h"
#include "tests/pcx_reference_encoder.h"

namespace {
class VectorSink final : public ByteSink {
public:
    int Write(const uint8_t* data, size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return 1;
    }
    std::vector<uint8_t> bytes;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const auto width = static_cast<uint16_t>(1 + input.Word16() % 300);
    const size_t available = input.Remaining();
    const auto height = static_cast<uint16_t>(available / width);
    if (height == 0) {
        return 0;
    }
    std::vector<uint8_t> indices(input.Rest(), input.Rest() + static_cast<size_t>(width) * height);

    VectorSink sink;
    uint8_t header[PCX_HEADER_SIZE];
    FillPcxHeader(header, width, height);
    sink.Write(header, sizeof header);
    FUZZ_CHECK(EncodePcxImage(indices.data(), width, height, sink) == 1);
    // Byte for byte what the rule, followed literally, gives.
    const std::vector<uint8_t> expected = ReferencePcxEncode(indices, width);
    FUZZ_CHECK(sink.bytes.size() == PCX_HEADER_SIZE + expected.size() &&
               std::equal(expected.begin(), expected.end(), sink.bytes.begin() + PCX_HEADER_SIZE));
    // Each scan line costs at most two bytes per pixel.
    FUZZ_CHECK(sink.bytes.size() <= PCX_HEADER_SIZE + 2 * indices.size());
    const uint8_t marker = PCX_PALETTE_MARKER;
    sink.Write(&marker, 1);
    sink.bytes.resize(sink.bytes.size() + PALETTE_BYTES, 0);

    DecodedPcx decoded;
    std::string error;
    FUZZ_CHECK(DecodePcx(sink.bytes, decoded, error));
    FUZZ_CHECK(decoded.width == width && decoded.height == height);
    FUZZ_CHECK(decoded.indices == indices);
    return 0;
}
