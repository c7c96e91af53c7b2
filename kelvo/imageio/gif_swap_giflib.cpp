// Swaps the indices and colour tables of a GIF file, block by block, with giflib.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "kelvo/imageio/index_swap.h"

namespace {

constexpr size_t GIF_ASPECT_AT = 12;  // 1: the pixel aspect byte, which giflib writes as 0

struct Reader {
    const std::vector<uint8_t>* bytes;
    size_t at;
};

int ReadFromBytes(GifFileType* gif, GifByteType* data, int size) {
    auto* reader = static_cast<Reader*>(gif->UserData);
    const size_t left = reader->bytes->size() - reader->at;
    const size_t taken = std::min(left, static_cast<size_t>(size));
    std::memcpy(data, reader->bytes->data() + reader->at, taken);
    reader->at += taken;
    return static_cast<int>(taken);
}

int WriteToBytes(GifFileType* gif, const GifByteType* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + size);
    return size;
}

std::string GifReason(int code) {
    const char* text = GifErrorString(code);
    return text != nullptr ? text : "giflib error " + std::to_string(code);
}

struct CloseIn {
    void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};
struct CloseOut {
    void operator()(GifFileType* gif) const { EGifCloseFile(gif, nullptr); }
};
struct FreeMap {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};
using MapHolder = std::unique_ptr<ColorMapObject, FreeMap>;

// The table a block written with `table` gets: the new palette in place of it, or a copy of it.
MapHolder TableFor(const ColorMapObject* table, const IndexSwap& swap) {
    if (table == nullptr) {
        return nullptr;
    }
    if (!swap.newPalette) {
        MapHolder kept(GifMakeMapObject(table->ColorCount, table->Colors));
        if (kept != nullptr) {
            kept->SortFlag = table->SortFlag;
        }
        return kept;
    }
    GifColorType colours[PALETTE_ENTRIES];
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        colours[i] = {swap.palette[i].red, swap.palette[i].green, swap.palette[i].blue};
    }
    return MapHolder(GifMakeMapObject(PALETTE_ENTRIES, colours));
}

// Copies one extension, block by block.
int CopyExtension(GifFileType* gif, GifFileType* copy) {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR ||
        EGifPutExtensionLeader(copy, code) == GIF_ERROR) {
        return 0;
    }
    while (block != nullptr) {
        if (EGifPutExtensionBlock(copy, block[0], block + 1) == GIF_ERROR ||
            DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
            return 0;
        }
    }
    return EGifPutExtensionTrailer(copy) == GIF_ERROR ? 0 : 1;
}

// Copies one image, mapping its indices line by line (in the order stored, which for an
// interlaced image is not top to bottom: the map does not care). On 0, `error` says why.
int CopyImage(GifFileType* gif, GifFileType* copy, const IndexSwap& swap, std::string& error) {
    if (DGifGetImageDesc(gif) == GIF_ERROR) {
        error = "is damaged: " + GifReason(gif->Error);
        return 0;
    }
    const GifImageDesc& image = gif->Image;
    const ColorMapObject* table = image.ColorMap != nullptr ? image.ColorMap : gif->SColorMap;
    if (table == nullptr) {
        error = "has a frame without a colour table";
        return 0;
    }
    std::string fits;
    if (!CheckSwapFits(swap, 8, table->ColorCount, fits)) {
        error = "has a frame that " + fits;
        return 0;
    }
    const MapHolder local = TableFor(image.ColorMap, swap);
    if ((image.ColorMap != nullptr && local == nullptr) ||
        EGifPutImageDesc(copy, image.Left, image.Top, image.Width, image.Height, image.Interlace,
                         local.get()) == GIF_ERROR) {
        error = "cannot be written again: " + GifReason(copy->Error);
        return 0;
    }
    std::vector<GifPixelType> line(static_cast<size_t>(image.Width));
    for (int y = 0; y < image.Height; ++y) {
        if (DGifGetLine(gif, line.data(), image.Width) == GIF_ERROR) {
            error = "is damaged: " + GifReason(gif->Error);
            return 0;
        }
        for (GifPixelType& index : line) {
            index = swap.map[index];
        }
        if (EGifPutLine(copy, line.data(), image.Width) == GIF_ERROR) {
            error = "cannot be written again: " + GifReason(copy->Error);
            return 0;
        }
    }
    return 1;
}

}  // namespace

int SwapGifFile(const std::vector<uint8_t>& in, const IndexSwap& swap, std::vector<uint8_t>& out,
                std::string& error) {
    Reader reader{&in, 0};
    int code = 0;
    const std::unique_ptr<GifFileType, CloseIn> gif(DGifOpen(&reader, ReadFromBytes, &code));
    if (gif == nullptr) {
        error = "is not a GIF file giflib reads: " + GifReason(code);
        return 0;
    }
    out.clear();
    std::unique_ptr<GifFileType, CloseOut> copy(EGifOpen(&out, WriteToBytes, &code));
    if (copy == nullptr) {
        error = "cannot be written again: " + GifReason(code);
        return 0;
    }
    EGifSetGifVersion(copy.get(), std::memcmp(in.data(), "GIF89a", 6) == 0);
    const MapHolder global = TableFor(gif->SColorMap, swap);
    if ((gif->SColorMap != nullptr && global == nullptr) ||
        EGifPutScreenDesc(copy.get(), gif->SWidth, gif->SHeight, gif->SColorResolution,
                          gif->SBackGroundColor, global.get()) == GIF_ERROR) {
        error = "cannot be written again: " + GifReason(copy->Error);
        return 0;
    }
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    do {
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) {
            error = "is damaged: " + GifReason(gif->Error);
            return 0;
        }
        if (record == IMAGE_DESC_RECORD_TYPE && !CopyImage(gif.get(), copy.get(), swap, error)) {
            return 0;
        }
        if (record == EXTENSION_RECORD_TYPE && !CopyExtension(gif.get(), copy.get())) {
            error = "is damaged: " + GifReason(gif->Error);
            return 0;
        }
    } while (record != TERMINATE_RECORD_TYPE);
    // EGifCloseFile writes the trailer and frees the copy, whatever it returns.
    if (EGifCloseFile(copy.release(), &code) == GIF_ERROR) {
        error = "cannot be written again: " + GifReason(code);
        return 0;
    }
    out[GIF_ASPECT_AT] = in[GIF_ASPECT_AT];
    return 1;
}
