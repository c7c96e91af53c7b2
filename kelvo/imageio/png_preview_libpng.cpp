// Writes PNG files: palettised frames as 8-bit indexed PNGs, and true-colour and grey frames.
#include "kelvo/imageio/png_preview.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "pcx/atomic_file.h"

namespace {

struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[200] = "";

    ~PngWriter() {
        if (png != nullptr) {
            png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
        }
    }
};

void OnPngError(png_structp png, png_const_charp text) {
    auto* writer = static_cast<PngWriter*>(png_get_error_ptr(png));
    std::snprintf(writer->message, sizeof writer->message, "%s", text);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void WriteToSink(png_structp png, png_bytep data, size_t size) {
    if (!static_cast<ByteSink*>(png_get_io_ptr(png))->Write(data, size)) {
        png_error(png, std::strerror(errno != 0 ? errno : EIO));
    }
}

void FlushNothing(png_structp) {}

// What a PNG holds besides its rows: its kind and, for an indexed one, palette and alphas.
struct PngLayout {
    int colorType = PNG_COLOR_TYPE_PALETTE;
    int bitDepth = 8;
    const png_color* palette = nullptr;
    const png_byte* alphas = nullptr;
    int alphaCount = 0;
};

// Gives row `y` of the image to write, or null (with the reason in `error`) when it cannot.
using RowFeed = std::function<png_bytep(png_uint_32 y, std::string& error)>;

// Creates no object with a destructor after the setjmp, so libpng's longjmp skips none; `rows`
// is called between libpng's calls, never from within one.
int Encode(PngWriter& writer, ByteSink& sink, const RowFeed& rows, png_uint_32 width,
           png_uint_32 height, const PngLayout& layout, std::string& rowError) {
    if (setjmp(png_jmpbuf(writer.png))) {
        return 0;
    }
    png_set_write_fn(writer.png, &sink, WriteToSink, FlushNothing);
    png_set_IHDR(writer.png, writer.info, width, height, layout.bitDepth, layout.colorType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (layout.palette != nullptr) {
        png_set_PLTE(writer.png, writer.info, layout.palette, PALETTE_ENTRIES);
    }
    if (layout.alphaCount > 0) {
        png_set_tRNS(writer.png, writer.info, layout.alphas, layout.alphaCount, nullptr);
    }
    png_write_info(writer.png, writer.info);
    for (png_uint_32 y = 0; y < height; ++y) {
        const png_bytep row = rows(y, rowError);
        if (row == nullptr) {
            return 0;
        }
        png_write_row(writer.png, row);
    }
    png_write_end(writer.png, writer.info);
    return 1;
}

// Writes the rows `rows` gives as a PNG of `layout` through a temporary file that replaces
// `path` when whole.
int WritePng(const std::string& path, const RowFeed& rows, int width, int height,
             const PngLayout& layout, std::string& error) {
    PngWriter writer;
    writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &writer, OnPngError, OnPngWarning);
    if (writer.png != nullptr) {
        writer.info = png_create_info_struct(writer.png);
    }
    if (writer.info == nullptr) {
        error = "out of memory";
        return 0;
    }
    bool encoded = false;
    std::string rowError;
    if (WriteFileAtomically(path.c_str(), [&](ByteSink& sink) {
            encoded = Encode(writer, sink, rows, static_cast<png_uint_32>(width),
                             static_cast<png_uint_32>(height), layout, rowError) != 0;
            return encoded ? 1 : 0;
        })) {
        return 1;
    }
    error = !rowError.empty()                      ? rowError
            : encoded || writer.message[0] == '\0' ? std::string(std::strerror(errno))
                                                   : std::string(writer.message);
    return 0;
}

// A feed of rows held whole in memory.
RowFeed RowsOf(const std::vector<png_bytep>& rows) {
    return [&rows](png_uint_32 y, std::string&) { return rows[y]; };
}

// The tRNS and PLTE of an indexed PNG of `palette` with `transparentIndex` (or -1).
struct IndexedLayout {
    png_color colours[PALETTE_ENTRIES];
    png_byte alphas[PALETTE_ENTRIES];
    PngLayout layout;

    IndexedLayout(const PaletteEntry* palette, int transparentIndex) {
        // tRNS lists the alpha of the first entries; those after it are opaque, so it ends with
        // the transparent one.
        const int alphaCount =
            transparentIndex >= 0 && transparentIndex < PALETTE_ENTRIES ? transparentIndex + 1 : 0;
        std::memset(alphas, 255, sizeof alphas);
        if (alphaCount > 0) {
            alphas[transparentIndex] = 0;
        }
        for (int i = 0; i < PALETTE_ENTRIES; ++i) {
            colours[i] = {palette[i].red, palette[i].green, palette[i].blue};
        }
        layout = {PNG_COLOR_TYPE_PALETTE, 8, colours, alphas, alphaCount};
    }
};

}  // namespace

int WriteIndexedPng(const std::string& path, const uint8_t* indices, int width, int height,
                    const PaletteEntry* palette, int transparentIndex, std::string& error) {
    if (width < 1 || height < 1) {
        error = "empty frame";
        return 0;
    }
    const IndexedLayout indexed(palette, transparentIndex);
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (size_t y = 0; y < rows.size(); ++y) {
        // libpng only reads the rows it is given to write.
        rows[y] = const_cast<png_bytep>(indices + y * static_cast<size_t>(width));
    }
    return WritePng(path, RowsOf(rows), width, height, indexed.layout, error);
}

int WriteIndexedPngRows(const std::string& path, int width, int height, const PaletteEntry* palette,
                        int transparentIndex, const IndexedRowSource& rows, std::string& error) {
    if (width < 1 || height < 1) {
        error = "empty frame";
        return 0;
    }
    const IndexedLayout indexed(palette, transparentIndex);
    const RowFeed feed = [&rows](png_uint_32 y, std::string& problem) {
        // libpng only reads the rows it is given to write.
        return const_cast<png_bytep>(rows(static_cast<int>(y), problem));
    };
    return WritePng(path, feed, width, height, indexed.layout, error);
}

int WriteColorPng(const std::string& path, const ColorImage& image, std::string& error) {
    const size_t width = static_cast<size_t>(image.width);
    const size_t height = static_cast<size_t>(image.height);
    if (width < 1 || height < 1 || image.rgba.size() != width * height * 4) {
        error = "empty frame";
        return 0;
    }
    // PNG stores 16-bit samples most significant byte first, whatever the machine's order.
    std::vector<uint8_t> bytes(image.rgba.size() * 2);
    for (size_t i = 0; i < image.rgba.size(); ++i) {
        bytes[2 * i] = static_cast<uint8_t>(image.rgba[i] >> 8);
        bytes[2 * i + 1] = static_cast<uint8_t>(image.rgba[i]);
    }
    std::vector<png_bytep> rows(height);
    for (size_t y = 0; y < height; ++y) {
        rows[y] = bytes.data() + y * width * 8;
    }
    return WritePng(path, RowsOf(rows), image.width, image.height, {PNG_COLOR_TYPE_RGB_ALPHA, 16},
                    error);
}

int WriteIdPng(const std::string& path, const IdImage& ids, std::string& error) {
    const size_t width = static_cast<size_t>(ids.width);
    const size_t height = static_cast<size_t>(ids.height);
    if (width < 1 || height < 1) {
        error = "empty frame";
        return 0;
    }
    std::vector<uint8_t> bytes(width * height, 0);  // no identifiers: every one is 0
    for (size_t i = 0; i < ids.ids.size() && i < bytes.size(); ++i) {
        if (ids.ids[i] > 255) {
            error = "identifier " + std::to_string(ids.ids[i]) + " does not fit 8 bits";
            return 0;
        }
        bytes[i] = static_cast<uint8_t>(ids.ids[i]);
    }
    std::vector<png_bytep> rows(height);
    for (size_t y = 0; y < height; ++y) {
        rows[y] = bytes.data() + y * width;
    }
    return WritePng(path, RowsOf(rows), ids.width, ids.height, {PNG_COLOR_TYPE_GRAY, 8}, error);
}
