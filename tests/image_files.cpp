// Writes small PNG inputs with libpng for the host's tests, and reads palette PNGs back.
#include "tests/image_files.h"

#include <png.h>

#include <cstdio>
#include <stdexcept>

namespace {

int ChannelsOf(int colorType) {
    switch (colorType) {
        case PNG_COLOR_TYPE_GRAY:
            return 1;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return 2;
        case PNG_COLOR_TYPE_RGB:
            return 3;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            return 4;
        default:
            return 1;  // palette indices
    }
}

}  // namespace

void WriteTestPng(const std::string& path, const TestPng& image) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        throw std::runtime_error("cannot create " + path);
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        std::fclose(file);
        throw std::runtime_error("libpng failed writing " + path);
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
                 static_cast<png_uint_32>(image.height), image.bitDepth, image.colorType,
                 image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 1);
    if (image.filter >= 0) {
        png_set_filter(png, 0, PNG_FILTER_NONE << image.filter);
    }
    std::vector<png_color> colours;
    for (size_t i = 0; i + 2 < image.palette.size(); i += 3) {
        colours.push_back({image.palette[i], image.palette[i + 1], image.palette[i + 2]});
    }
    if (!colours.empty()) {
        png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
    }
    if (!image.alphas.empty()) {
        png_set_tRNS(png, info, image.alphas.data(), static_cast<int>(image.alphas.size()),
                     nullptr);
    }
    if (image.rowsKept >= 0) {
        // Zeros packed as tightly as deflate can, in IDAT chunks of 256 bytes written as each
        // fills; what zlib still holds when the rows end is never written.
        png_set_compression_level(png, 9);
        png_set_compression_buffer_size(png, 256);
    }
    png_write_info(png, info);
    if (image.rowsKept >= 0) {
        std::vector<uint8_t> zeros(png_get_rowbytes(png, info), 0);
        for (int y = 0; y < image.rowsKept; ++y) {
            png_write_row(png, zeros.data());
        }
        png_destroy_write_struct(&png, &info);
        if (std::fclose(file) != 0) {
            throw std::runtime_error("cannot close " + path);
        }
        return;
    }
    // Pack each row into PNG's big-endian, sub-byte layout.
    const int channels = ChannelsOf(image.colorType);
    const size_t perRow = static_cast<size_t>(image.width) * static_cast<size_t>(channels);
    std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(image.height));
    for (size_t y = 0; y < rows.size(); ++y) {
        std::vector<uint8_t>& row = rows[y];
        row.assign(png_get_rowbytes(png, info), 0);
        for (size_t i = 0; i < perRow; ++i) {
            const uint16_t value = image.samples[y * perRow + i];
            if (image.bitDepth == 16) {
                row[2 * i] = static_cast<uint8_t>(value >> 8);
                row[2 * i + 1] = static_cast<uint8_t>(value & 0xFF);
            } else if (image.bitDepth == 8) {
                row[i] = static_cast<uint8_t>(value);
            } else {
                const size_t bit = i * static_cast<size_t>(image.bitDepth);
                const int shift = 8 - image.bitDepth - static_cast<int>(bit % 8);
                row[bit / 8] = static_cast<uint8_t>(row[bit / 8] | (value << shift));
            }
        }
    }
    std::vector<png_bytep> pointers;
    for (auto& row : rows) {
        pointers.push_back(row.data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(file) != 0) {
        throw std::runtime_error("cannot close " + path);
    }
}

IndexedPng ReadTestIndexedPng(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        throw std::runtime_error("cannot open " + path);
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        std::fclose(file);
        throw std::runtime_error("libpng failed reading " + path);
    }
    png_init_io(png, file);
    png_read_info(png, info);
    IndexedPng out;
    if (png_get_color_type(png, info) != PNG_COLOR_TYPE_PALETTE ||
        png_get_bit_depth(png, info) != 8) {
        std::fclose(file);
        throw std::runtime_error(path + " is not an 8-bit palette PNG");
    }
    out.width = static_cast<int>(png_get_image_width(png, info));
    out.height = static_cast<int>(png_get_image_height(png, info));
    png_colorp colours = nullptr;
    int count = 0;
    png_get_PLTE(png, info, &colours, &count);
    for (int i = 0; i < count; ++i) {
        out.palette.insert(out.palette.end(), {colours[i].red, colours[i].green, colours[i].blue});
    }
    out.indices.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height));
    std::vector<png_bytep> rows;
    for (int y = 0; y < out.height; ++y) {
        rows.push_back(out.indices.data() +
                       static_cast<size_t>(y) * static_cast<size_t>(out.width));
    }
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return out;
}
