// The PNG reader's fast path: its chunk walk alone, and its pixels and verdicts held to libpng's
// on files libpng wrote with each filter type.
#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

#include "kelvo/imageio/png_image.h"
#include "kelvo/imageio/png_rows.h"
#include "tests/image_files.h"
#include "tests/pcx_decoder.h"
#include "tests/temp_dir.h"

namespace {

void PutBe32(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

// A chunk: length, type, data and its CRC (zlib's); `crcFlip` spoils the CRC.
std::vector<uint8_t> Chunk(const char* type, const std::vector<uint8_t>& data,
                           uint32_t crcFlip = 0) {
    std::vector<uint8_t> bytes;
    PutBe32(bytes, static_cast<uint32_t>(data.size()));
    for (int i = 0; i < 4; ++i) {
        bytes.push_back(static_cast<uint8_t>(type[i]));
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    const uLong crc = crc32(0, bytes.data() + 4, static_cast<uInt>(4 + data.size()));
    PutBe32(bytes, static_cast<uint32_t>(crc) ^ crcFlip);
    return bytes;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    ASSERT_EQ(std::fclose(file), 0);
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> bytes;
    for (const auto& part : parts) {
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
}

TEST(PngFastPathTest, GathersTheIdatRunUpToIend) {
    const std::vector<uint8_t> iend = Chunk("IEND", {});
    const std::vector<uint8_t> text = Chunk("tEXt", {'a', 0, 'b'});
    struct Case {
        const char* name;
        std::vector<uint8_t> chunks;  // from the first IDAT's header on
        PngDataVerdict verdict;
        std::vector<uint8_t> data;  // or the reason
        std::string error;
    };
    const Case cases[] = {
        {"one IDAT", Join({Chunk("IDAT", {1, 2}), iend}), PNG_DATA_GATHERED, {1, 2}, ""},
        {"IDATs, a bad ancillary CRC, data after IEND",
         Join({Chunk("IDAT", {1}),
               Chunk("IDAT", {}),
               Chunk("IDAT", {2, 3}),
               Chunk("tEXt", {'a', 0}, 1),
               text,
               iend,
               {9, 9}}),
         PNG_DATA_GATHERED,
         {1, 2, 3},
         ""},
        {"first IDAT's CRC",
         Join({Chunk("IDAT", {1}, 4), iend}),
         PNG_DATA_REFUSED,
         {},
         "IDAT: CRC error"},
        {"second IDAT's CRC",
         Join({Chunk("IDAT", {1}), Chunk("IDAT", {2}, 1), iend}),
         PNG_DATA_REFUSED,
         {},
         "IDAT: CRC error"},
        {"cut in an IDAT",
         Join({Chunk("IDAT", {1}), Chunk("IDAT", {2, 3})}),
         PNG_DATA_REFUSED,
         {},
         "damaged: the file is cut short"},
        {"no IEND",
         Join({Chunk("IDAT", {1}), text}),
         PNG_DATA_REFUSED,
         {},
         "damaged: the file is cut short"},
        {"IEND cut",
         Join({Chunk("IDAT", {1}), std::vector<uint8_t>(iend.begin(), iend.end() - 1)}),
         PNG_DATA_REFUSED,
         {},
         "damaged: the file is cut short"},
        {"IDAT after another chunk",
         Join({Chunk("IDAT", {1}), text, Chunk("IDAT", {2}), iend}),
         PNG_DATA_UNUSUAL,
         {},
         ""},
        {"unknown critical chunk",
         Join({Chunk("IDAT", {1}), Chunk("ABCD", {}), iend}),
         PNG_DATA_UNUSUAL,
         {},
         ""},
        {"PLTE after the data",
         Join({Chunk("IDAT", {1}), Chunk("PLTE", {0, 0, 0}), iend}),
         PNG_DATA_UNUSUAL,
         {},
         ""},
        {"IEND's CRC", Join({Chunk("IDAT", {1}), Chunk("IEND", {}, 1)}), PNG_DATA_UNUSUAL, {}, ""},
        {"IEND with data",
         Join({Chunk("IDAT", {1}), Chunk("IEND", {0})}),
         PNG_DATA_UNUSUAL,
         {},
         ""},
        {"not a chunk name",
         Join({Chunk("IDAT", {1}), Chunk("tE1t", {}), iend}),
         PNG_DATA_UNUSUAL,
         {},
         ""},
        {"IDAT beyond the cap",
         Join({Chunk("IDAT", std::vector<uint8_t>(9)), iend}),
         PNG_DATA_UNUSUAL,
         {},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The first IDAT's header is read already: it is taken from the bytes.
        std::vector<uint8_t> bytes(c.chunks.begin() + 8, c.chunks.end());
        const uint32_t firstLength = static_cast<uint32_t>(c.chunks[3]);
        size_t dataBytes = 99;
        std::string error;
        EXPECT_EQ(GatherPngImageData(bytes.data(), bytes.size(), firstLength, 8, dataBytes, error),
                  c.verdict);
        EXPECT_EQ(error, c.error);
        if (c.verdict == PNG_DATA_GATHERED) {
            EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + dataBytes), c.data);
        }
    }
}

// The chunks of a PNG file, without its signature.
std::vector<std::vector<uint8_t>> SplitChunks(const std::vector<uint8_t>& file) {
    std::vector<std::vector<uint8_t>> chunks;
    for (size_t at = 8; at + 12 <= file.size();) {
        const size_t length = size_t{file[at]} << 24 | size_t{file[at + 1]} << 16 |
                              size_t{file[at + 2]} << 8 | file[at + 3];
        chunks.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(at),
                            file.begin() + static_cast<std::ptrdiff_t>(at + 12 + length));
        at += 12 + length;
    }
    return chunks;
}

struct Decoded {
    int result = 0;
    std::string error;
    std::vector<uint16_t> rgba;
};

Decoded Decode(const std::string& path, PngDecoding decoding) {
    ColorImage image;
    Decoded decoded;
    decoded.result = ReadColorPngUsing(path, image, decoded.error, DEFAULT_MAX_PIXELS, decoding);
    decoded.rgba = image.rgba;
    return decoded;
}

// Every filter type in every layout the fast path takes, with odd widths (and one pixel) that
// leave tails to every kernel; then each file remade with the chunks after its image data
// changed, which both paths must take alike, and with a wrong Adler-32, which shows that the
// fast path read the file, since libpng would not refuse it so.
TEST(PngFastPathTest, DecodesAndRefusesAsLibpngDoes) {
    TempDir dir;
    std::mt19937 random(15);
    for (int type : {PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA}) {
        for (int depth : {8, 16}) {
            for (int filter = 0; filter < 5; ++filter) {
                // Width 64 is of smooth samples, which compress: the file and the inflated
                // rows then fit in the frame's own memory, behind its pixels, where they decode.
                for (int width : {1, 37, 64}) {
                    SCOPED_TRACE(testing::Message()
                                 << "type " << type << ", " << depth << " bits, filter " << filter
                                 << ", width " << width);
                    const int channels = type == PNG_COLOR_TYPE_RGB ? 3 : 4;
                    std::vector<uint16_t> samples(static_cast<size_t>(width * 5 * channels));
                    for (size_t i = 0; i < samples.size(); ++i) {
                        samples[i] =
                            static_cast<uint16_t>(width == 64 ? (i % 7 + i / 200) << (depth - 4)
                                                              : random() >> (depth == 8 ? 24 : 16));
                    }
                    TestPng png(width, 5, type, depth, samples);
                    png.filter = filter;
                    const std::string path = dir.File("frame.png");
                    WriteTestPng(path, png);
                    const Decoded reference = Decode(path, PNG_DECODE_LIBPNG);
                    ASSERT_EQ(reference.result, 1) << reference.error;
                    const Decoded fast = Decode(path, PNG_DECODE_FASTEST);
                    ASSERT_EQ(fast.result, 1) << fast.error;
                    EXPECT_EQ(fast.rgba, reference.rgba);

                    // IHDR, IDAT, IEND as libpng wrote them.
                    const std::vector<uint8_t> file = ReadWholeFile(path);
                    const auto chunks = SplitChunks(file);
                    ASSERT_EQ(chunks.size(), 3u);
                    const std::vector<uint8_t> head(file.begin(), file.begin() + 8);
                    const std::vector<uint8_t> idat(chunks[1].begin() + 8, chunks[1].end() - 4);
                    const size_t half = idat.size() / 2;
                    std::vector<uint8_t> wrongAdler = idat;
                    wrongAdler.back() ^= 1;
                    struct Remade {
                        const char* name;
                        std::vector<uint8_t> afterIhdr;
                        bool accepted;
                    };
                    const Remade remade[] = {
                        {"IDAT split, a bad ancillary CRC after it",
                         Join({Chunk("IDAT", {idat.begin(), idat.begin() + half}),
                               Chunk("IDAT", {idat.begin() + half, idat.end()}),
                               Chunk("tIME", {7, 233, 1, 2, 3, 4, 5}, 1), chunks[2]}),
                         true},
                        {"unknown critical chunk after IDAT",
                         Join({chunks[1], Chunk("KLVO", {1}), chunks[2]}), true},
                        {"IDAT after text",
                         Join({chunks[1], Chunk("tEXt", {'a', 0}), Chunk("IDAT", {}), chunks[2]}),
                         true},
                        {"IEND's CRC", Join({chunks[1], Chunk("IEND", {}, 1)}), false},
                    };
                    for (const Remade& r : remade) {
                        SCOPED_TRACE(r.name);
                        WriteBytes(path, Join({head, chunks[0], r.afterIhdr}));
                        const Decoded libpng = Decode(path, PNG_DECODE_LIBPNG);
                        const Decoded ours = Decode(path, PNG_DECODE_FASTEST);
                        EXPECT_EQ(libpng.result, r.accepted ? 1 : 0) << libpng.error;
                        EXPECT_EQ(ours.result, libpng.result);
                        EXPECT_EQ(ours.error, libpng.error);
                        if (libpng.result == 1) {
                            EXPECT_EQ(ours.rgba, libpng.rgba);
                        }
                    }
                    WriteBytes(path, Join({head, chunks[0], Chunk("IDAT", wrongAdler), chunks[2]}));
                    const Decoded refused = Decode(path, PNG_DECODE_FASTEST);
                    EXPECT_EQ(refused.result, 0);
                    EXPECT_EQ(refused.error.rfind("damaged: the image data does not inflate", 0),
                              0u)
                        << refused.error;
                }
            }
        }
    }
}

struct DecodedIds {
    int result = 0;
    std::string error;
    std::vector<uint16_t> ids;
};

DecodedIds DecodeIds(const std::string& path, PngDecoding decoding) {
    IdImage image;
    DecodedIds decoded;
    decoded.result = ReadIdPngUsing(path, image, decoded.error, DEFAULT_MAX_PIXELS, decoding);
    decoded.ids = image.ids;
    return decoded;
}

// Identifier passes in every layout one may have, every filter type and odd widths: grey as
// drawn, RGB and RGBA with equal channels (alpha drawn), then with one pixel's green off, which
// both paths refuse naming that pixel; and the wrong Adler-32 that only the fast path refuses.
TEST(PngFastPathTest, DecodesIdentifierPassesAsLibpngDoes) {
    TempDir dir;
    std::mt19937 random(16);
    const std::string path = dir.File("ids.png");
    for (int type : {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA}) {
        for (int depth : {8, 16}) {
            for (int filter = 0; filter < 5; ++filter) {
                for (int width : {1, 37}) {
                    SCOPED_TRACE(testing::Message()
                                 << "type " << type << ", " << depth << " bits, filter " << filter
                                 << ", width " << width);
                    const int channels = type == PNG_COLOR_TYPE_GRAY ? 1 : type == 2 ? 3 : 4;
                    std::vector<uint16_t> samples;
                    for (int i = 0; i < width * 5; ++i) {
                        const auto id = static_cast<uint16_t>(random() >> (depth == 8 ? 24 : 16));
                        for (int c = 0; c < channels; ++c) {
                            samples.push_back(c < 3 ? id : static_cast<uint16_t>(random() >> 24));
                        }
                    }
                    for (bool ungrey : {false, true}) {
                        if (ungrey && channels == 1) {
                            continue;
                        }
                        if (ungrey) {
                            samples[static_cast<size_t>((3 * width + width / 2) * channels + 1)] ^=
                                1;
                        }
                        TestPng png(width, 5, type, depth, samples);
                        png.filter = filter;
                        WriteTestPng(path, png);
                        const DecodedIds libpng = DecodeIds(path, PNG_DECODE_LIBPNG);
                        const DecodedIds fast = DecodeIds(path, PNG_DECODE_FASTEST);
                        ASSERT_EQ(libpng.result, ungrey ? 0 : 1) << libpng.error;
                        EXPECT_EQ(fast.result, libpng.result);
                        EXPECT_EQ(fast.error, libpng.error);
                        if (!ungrey) {
                            EXPECT_EQ(fast.ids, libpng.ids);
                        }
                    }
                    const std::vector<uint8_t> file = ReadWholeFile(path);
                    const auto chunks = SplitChunks(file);
                    ASSERT_EQ(chunks.size(), 3u);
                    std::vector<uint8_t> wrongAdler(chunks[1].begin() + 8, chunks[1].end() - 4);
                    wrongAdler.back() ^= 1;
                    WriteBytes(path, Join({{file.begin(), file.begin() + 8},
                                           chunks[0],
                                           Chunk("IDAT", wrongAdler),
                                           chunks[2]}));
                    EXPECT_EQ(DecodeIds(path, PNG_DECODE_FASTEST)
                                  .error.rfind("damaged: the image data does not inflate", 0),
                              0u);
                }
            }
        }
    }
}

// The inflated rows' size against a reference in double (exact below 2^53), at this program's
// limit and at a 32-bit build's, where 16-bit RGBA rows, a filter byte a row more than the
// pixels, are past 4 GiB for frames whose pixels are not: computed in a 32-bit size_t, the
// 8193 x 65528 frame's rows came to 65464 bytes.
TEST(PngFastPathTest, CountsImageBytesWithoutWrapping) {
    const uint64_t bits32 = UINT32_MAX;
    struct Case {
        uint64_t width, height;
        int channels, bitDepth;
        uint64_t limit;
    };
    const Case cases[] = {
        {1, 1, 1, 1, SIZE_MAX},        {3, 2, 1, 2, SIZE_MAX},
        {4096, 4096, 3, 8, SIZE_MAX},  {4096, 4096, 4, 16, SIZE_MAX},
        {8192, 65535, 4, 16, bits32},  {8193, 65528, 4, 16, bits32},
        {65535, 65535, 4, 16, bits32}, {65535, 65535, 4, 16, UINT64_MAX},
        {65535, 65535, 3, 8, bits32},  {21845, 65535, 3, 8, bits32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << ", " << c.channels
                                        << " x " << c.bitDepth << " bits, limit " << c.limit);
        const double rowBytes =
            std::ceil(static_cast<double>(c.width) * c.channels * c.bitDepth / 8);
        const double reference = static_cast<double>(c.height) * (1 + rowBytes);
        const bool fits = reference <= static_cast<double>(std::min<uint64_t>(c.limit, SIZE_MAX));
        size_t bytes = 0;
        EXPECT_EQ(CountPngImageBytes(c.width, c.height, c.channels, c.bitDepth, c.limit, bytes),
                  fits);
        if (fits) {
            EXPECT_EQ(static_cast<double>(bytes), reference);
        }
    }
}

}  // namespace
