// Fuzzes a stored settings block followed by a render of a small random frame through both
// faces of the engine: the plug-in's RenderFrame and kelvo's FrameEngine.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/memory_bitmap.h"
#include "plugin/palette_render_filter.h"
#include "render/frame_engine.h"
#include "render/frame_file.h"
#include "render/palette_mapping.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/pcx_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    uint8_t block[SETTINGS_BLOCK_SIZE];
    input.Take(block, sizeof block);
    PaletteRenderFilter filter;
    uint8_t before[SETTINGS_BLOCK_SIZE];
    filter.SaveConfigBlock(before);
    const int loaded = filter.LoadConfigBlock(block);
    const bool tagged = block[0] == 101 && block[1] == 0 && block[2] == 0 && block[3] == 0;
    FUZZ_CHECK(loaded == (tagged ? 1 : 0));
    uint8_t after[SETTINGS_BLOCK_SIZE];
    filter.SaveConfigBlock(after);
    FUZZ_CHECK(std::memcmp(after, loaded ? block : before, SETTINGS_BLOCK_SIZE) == 0);

    // The stored name, whatever it holds, gives a bounded frame name or a refusal.
    char name[FRAME_NAME_SIZE];
    const int frame = static_cast<int>(input.Word32());
    if (BuildFrameFileName(filter.settings.outputName, frame, name)) {
        FUZZ_CHECK(std::strlen(name) < FRAME_NAME_SIZE);
        FUZZ_CHECK(std::strcmp(name + std::strlen(name) - 4, ".pcx") == 0);
    }

    // Render into a private directory: a fuzzed name must never write elsewhere.
    const std::string outputName = FuzzScratchDirectory() + "/frame.pcx";
    std::snprintf(filter.settings.outputName, sizeof filter.settings.outputName, "%s",
                  outputName.c_str());
    const auto width = static_cast<WORD>(input.Byte() % 17);
    const auto height = static_cast<WORD>(input.Byte() % 9);
    MemoryBitmap bitmap(width, height);
    for (auto& pixel : bitmap.Pixels()) {
        pixel = {input.Word16(), input.Word16(), input.Word16(), input.Word16()};
    }
    for (auto& id : bitmap.MaterialIds()) {
        id = input.Byte();
    }
    for (auto& id : bitmap.ObjectIds()) {
        id = input.Word16();
    }
    const auto original = bitmap.Pixels();
    ImageFilterInfo info{3};
    filter.SetSource(&bitmap);
    filter.SetFilterInfo(&info);
    FUZZ_CHECK(filter.RenderFrame(nullptr) == 1);

    const std::string written = FuzzScratchDirectory() + "/frame0003.pcx";
    if (width == 0 || height == 0) {
        FUZZ_CHECK(!std::filesystem::exists(written));
        return 0;
    }
    DecodedPcx decoded;
    std::string error;
    FUZZ_CHECK(DecodePcx(ReadWholeFile(written), decoded, error));
    FUZZ_CHECK(decoded.width == width && decoded.height == height);
    FUZZ_CHECK(std::memcmp(decoded.palette.data(), filter.settings.palette, PALETTE_BYTES) == 0);
    const PaletteRenderSettings& settings = filter.settings;
    for (size_t i = 0; i < original.size(); ++i) {
        // Every index is the one the mapping rules give that pixel on its own.
        const unsigned id = SourceChannel(settings) == CHANNEL_MATERIAL_EFFECTS
                                ? bitmap.MaterialIds()[i]
                                : bitmap.ObjectIds()[i];
        const ColorRange& range = RangeForId(settings, id);
        const BMM_Color_64& source = original[i];
        const int x = static_cast<int>(i % width);
        const int y = static_cast<int>(i / width);
        const double luminance = Luminance(source.r, source.g, source.b);
        const int expected =
            settings.method != METHOD_UNIFORM
                ? NearestIndex(settings.palette, range, source.r, source.g, source.b)
                : (range.dither != 0 ? DitheredIndex(range, luminance, x, y)
                                     : UniformIndex(range, luminance));
        FUZZ_CHECK(decoded.indices[i] == expected);
        const PaletteEntry& colour = filter.settings.palette[decoded.indices[i]];
        const BMM_Color_64& pixel = bitmap.Pixels()[i];
        FUZZ_CHECK(pixel.r == colour.red << 8 && pixel.g == colour.green << 8 &&
                   pixel.b == colour.blue << 8 && pixel.a == original[i].a);
    }
    // kelvo's face, through the engine, must give the same indices, colours and file. Its
    // 16-bit identifiers hold the material identifier in their low byte.
    std::vector<uint16_t> rgba(original.size() * 4), ids(original.size());
    std::memcpy(rgba.data(), original.data(), rgba.size() * 2);
    for (size_t i = 0; i < ids.size(); ++i) {
        ids[i] =
            SourceChannel(settings) != CHANNEL_MATERIAL_EFFECTS
                ? bitmap.ObjectIds()[i]
                : static_cast<uint16_t>((bitmap.ObjectIds()[i] & 0xFF00) | bitmap.MaterialIds()[i]);
    }
    PaletteRenderSettings kelvo = settings;
    std::snprintf(kelvo.outputName, sizeof kelvo.outputName, "%s/kelvo.pcx",
                  FuzzScratchDirectory().c_str());
    FrameEngine engine(kelvo);
    std::vector<uint8_t> indices(ids.size());
    std::vector<uint16_t> colours(rgba.size());
    FUZZ_CHECK(engine.FitRows(width));
    for (int y = 0; y < height; ++y) {
        engine.MapRow({width, height, rgba.data(), ids.data()}, y, &indices[size_t(y * width)],
                      &colours[size_t(4 * y * width)]);
    }
    FUZZ_CHECK(indices == decoded.indices);
    FUZZ_CHECK(std::memcmp(colours.data(), bitmap.Pixels().data(), colours.size() * 2) == 0);
    const std::string kelvoFile = FuzzScratchDirectory() + "/kelvo0003.pcx";
    FUZZ_CHECK(WriteFrameFile(kelvo, 3, indices.data(), width, height) == 1);
    FUZZ_CHECK(ReadWholeFile(kelvoFile) == ReadWholeFile(written));
    std::filesystem::remove(kelvoFile);
    std::filesystem::remove(written);

    // Range choices from the rest of the input: a pixel never takes a reserved entry, nor one
    // outside its range's spans (or, without spans, the entries its block range can give),
    // unless its range has no usable entry left, which kelvo refuses.
    RangeChoices choices;
    for (size_t i = 0; i < PALETTE_ENTRIES; ++i) {
        choices.reserved[i] = input.Byte() % 8 == 7;  // none once the input runs out
    }
    for (RangeChoice& choice : choices.ranges) {
        const uint8_t shape = input.Byte();
        for (int span = 0; span < shape % 4; ++span) {
            choice.spans.push_back({input.Byte(), input.Byte()});
        }
        if ((shape & 4) != 0) {
            choice.method = (shape & 8) != 0 ? RangeMethod::Nearest : RangeMethod::Uniform;
        }
        if ((shape & 16) != 0) {
            choice.dither = static_cast<DitherPattern>(shape >> 5 & 3);
        }
        choice.strength = input.Byte() / 255.0;
    }
    FrameEngine chosen(kelvo, choices);
    FUZZ_CHECK(chosen.FitRows(width));
    for (int y = 0; y < height; ++y) {
        chosen.MapRow({width, height, rgba.data(), ids.data()}, y, &indices[size_t(y * width)]);
    }
    for (size_t i = 0; i < ids.size(); ++i) {
        const unsigned id =
            SourceChannel(settings) == CHANNEL_MATERIAL_EFFECTS ? ids[i] & 0xFF : ids[i];
        const unsigned k = id < RANGE_COUNT ? id : 0;
        if ((chosen.ClosedRanges() >> k & 1) != 0) {
            continue;
        }
        const ColorRange& own = settings.ranges[k];
        std::vector<IndexSpan> spans = choices.ranges[k].spans;
        if (spans.empty()) {
            spans.push_back({own.first, own.last});
            if (own.first > own.last && own.first < 255) {
                spans.push_back({own.first, static_cast<uint8_t>(own.first + 1)});
            }
        }
        const int index = indices[i];
        bool inside = false;
        for (const IndexSpan& span : spans) {
            inside = inside || (index >= std::min(span.first, span.last) &&
                                index <= std::max(span.first, span.last));
        }
        FUZZ_CHECK(inside && !choices.reserved[size_t(index)]);
    }
    return 0;
}
