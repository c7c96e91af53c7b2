// Decodes PNG files with the Windows Imaging Component: colour frames to 16-bit RGBA,
// identifier passes to IDs.
#include <windows.h>

#include <wincodec.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "kelvo/imageio/png_image.h"
#include "kelvo/imageio/wic_session_win32.h"
#include "kelvo/os/file_io.h"

namespace {

constexpr unsigned char PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The first chunk is IHDR: after the signature its length (4 bytes) and tag (4), then width
// (4, big-endian), height (4), bit depth (1) and colour type (1).
constexpr size_t IHDR_TAG = 12;
constexpr size_t IHDR_BIT_DEPTH = 24;
constexpr size_t IHDR_COLOR_TYPE = 25;

enum PngColorType {
    PNG_GREY = 0,
    PNG_RGB = 2,
    PNG_PALETTE = 3,
    PNG_GREY_ALPHA = 4,
    PNG_RGBA = 6,
};

// Rows are copied out of the decoder in bands of about this many bytes.
constexpr size_t BAND_BYTES = size_t{1} << 20;

// The layouts with 16 bits per channel the PNG decoder hands out; they are copied as they
// are, since a conversion would go through 8 bits.
struct WideLayout {
    const GUID* format;
    int channels;
    bool blueFirst;
};
const WideLayout WIDE_LAYOUTS[] = {
    {&GUID_WICPixelFormat64bppRGBA, 4, false}, {&GUID_WICPixelFormat64bppBGRA, 4, true},
    {&GUID_WICPixelFormat48bppRGB, 3, false},  {&GUID_WICPixelFormat48bppBGR, 3, true},
    {&GUID_WICPixelFormat16bppGray, 1, false},
};

// The layouts of 8 bits or fewer per channel; the imaging component expands them (palettes,
// transparency and low bit depths included) to 8-bit RGBA exactly.
const GUID* const NARROW_LAYOUTS[] = {
    &GUID_WICPixelFormatBlackWhite,  &GUID_WICPixelFormat2bppGray,
    &GUID_WICPixelFormat4bppGray,    &GUID_WICPixelFormat8bppGray,
    &GUID_WICPixelFormat1bppIndexed, &GUID_WICPixelFormat2bppIndexed,
    &GUID_WICPixelFormat4bppIndexed, &GUID_WICPixelFormat8bppIndexed,
    &GUID_WICPixelFormat24bppBGR,    &GUID_WICPixelFormat24bppRGB,
    &GUID_WICPixelFormat32bppBGR,    &GUID_WICPixelFormat32bppBGRA,
    &GUID_WICPixelFormat32bppRGBA,
};

struct PngFrame {
    std::vector<uint8_t> bytes;  // the whole file; the stream reads from it
    ComReference<IWICStream> stream;
    ComReference<IWICBitmapDecoder> decoder;
    ComReference<IWICBitmapFrameDecode> frame;
    int bitDepth = 0;
    int colorType = 0;
    UINT width = 0;
    UINT height = 0;
    WICPixelFormatGUID format{};
};

int Fail(HRESULT result, std::string& error) {
    error = DescribeWicFailure(result);
    return 0;
}

int Open(const std::string& path, IWICImagingFactory& factory, PngFrame& png, std::string& error) {
    if (!ReadFileBytes(path, png.bytes, error)) {
        return 0;
    }
    if (!LooksLikePng(png.bytes.data(), png.bytes.size())) {
        error = "not a PNG file";
        return 0;
    }
    if (png.bytes.size() <= IHDR_COLOR_TYPE ||
        std::memcmp(png.bytes.data() + IHDR_TAG, "IHDR", 4) != 0) {
        error = "the PNG data is damaged or cut short: no IHDR chunk";
        return 0;
    }
    png.bitDepth = png.bytes[IHDR_BIT_DEPTH];
    png.colorType = png.bytes[IHDR_COLOR_TYPE];
    HRESULT result = factory.CreateStream(png.stream.Receive());
    if (SUCCEEDED(result)) {
        result = png.stream->InitializeFromMemory(png.bytes.data(),
                                                  static_cast<DWORD>(png.bytes.size()));
    }
    if (SUCCEEDED(result)) {
        result = factory.CreateDecoder(GUID_ContainerFormatPng, nullptr, png.decoder.Receive());
    }
    if (SUCCEEDED(result)) {
        result = png.decoder->Initialize(png.stream.Get(), WICDecodeMetadataCacheOnDemand);
    }
    if (SUCCEEDED(result)) {
        result = png.decoder->GetFrame(0, png.frame.Receive());
    }
    if (SUCCEEDED(result)) {
        result = png.frame->GetSize(&png.width, &png.height);
    }
    if (SUCCEEDED(result)) {
        result = png.frame->GetPixelFormat(&png.format);
    }
    if (FAILED(result)) {
        return Fail(result, error);
    }
    if (png.width > FRAME_MAX_SIDE || png.height > FRAME_MAX_SIDE) {
        error = std::to_string(png.width) + " x " + std::to_string(png.height) +
                " pixels is larger than the 65535 x 65535 a frame can have";
        return 0;
    }
    // Four 16-bit values a pixel must be countable in this (32-bit) program's memory.
    if (png.height != 0 && png.width > SIZE_MAX / 8 / png.height) {
        error = std::to_string(png.width) + " x " + std::to_string(png.height) +
                " pixels do not fit in memory";
        return 0;
    }
    return 1;
}

// Hands the decoded rows of `source` to `take(firstRow, rowCount, bytes)` band by band.
template <typename Take>
int CopyBands(IWICBitmapSource& source, UINT width, UINT height, size_t bytesPerPixel,
              std::string& error, Take take) {
    const size_t stride = width * bytesPerPixel;
    const UINT bandRows =
        static_cast<UINT>(stride >= BAND_BYTES || stride == 0 ? 1 : BAND_BYTES / stride);
    std::vector<BYTE> band(stride * (bandRows < height ? bandRows : height));
    for (UINT y = 0; y < height; y += bandRows) {
        const UINT rows = height - y < bandRows ? height - y : bandRows;
        const WICRect rect{0, static_cast<INT>(y), static_cast<INT>(width), static_cast<INT>(rows)};
        const HRESULT result = source.CopyPixels(&rect, static_cast<UINT>(stride),
                                                 static_cast<UINT>(stride * rows), band.data());
        if (FAILED(result)) {
            return Fail(result, error);
        }
        take(y, rows, band.data());
    }
    return 1;
}

uint16_t GetLe16(const BYTE* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

// Decodes the frame into `rgba` (4 values a pixel, already sized): 16-bit layouts as they
// are, every other layout through 8-bit RGBA with each colour value v becoming v x 256 and
// alpha v x 257, as png_image.h says.
int DecodeRgba16(IWICImagingFactory& factory, PngFrame& png, uint16_t* rgba, std::string& error) {
    const size_t width = png.width;
    for (const WideLayout& layout : WIDE_LAYOUTS) {
        if (!IsEqualGUID(png.format, *layout.format)) {
            continue;
        }
        const size_t pixelBytes = 2 * static_cast<size_t>(layout.channels);
        return CopyBands(*png.frame.Get(), png.width, png.height, pixelBytes, error,
                         [&](UINT firstRow, UINT rows, const BYTE* band) {
                             uint16_t* out = rgba + firstRow * width * 4;
                             for (size_t i = 0; i < rows * width; ++i, out += 4) {
                                 const BYTE* pixel = band + i * pixelBytes;
                                 if (layout.channels == 1) {
                                     out[0] = out[1] = out[2] = GetLe16(pixel);
                                     out[3] = 65535;
                                     continue;
                                 }
                                 const int red = layout.blueFirst ? 4 : 0;
                                 out[0] = GetLe16(pixel + red);
                                 out[1] = GetLe16(pixel + 2);
                                 out[2] = GetLe16(pixel + 4 - red);
                                 out[3] = layout.channels == 4 ? GetLe16(pixel + 6) : 65535;
                             }
                         });
    }
    bool narrow = false;
    for (const GUID* format : NARROW_LAYOUTS) {
        narrow = narrow || IsEqualGUID(png.format, *format);
    }
    if (!narrow) {
        error =
            "the Windows Imaging Component gives this PNG in a pixel layout kelvo does "
            "not take";
        return 0;
    }
    ComReference<IWICFormatConverter> converter;
    HRESULT result = factory.CreateFormatConverter(converter.Receive());
    if (SUCCEEDED(result)) {
        result = converter->Initialize(png.frame.Get(), GUID_WICPixelFormat32bppRGBA,
                                       WICBitmapDitherTypeNone, nullptr, 0.0,
                                       WICBitmapPaletteTypeCustom);
    }
    if (FAILED(result)) {
        return Fail(result, error);
    }
    return CopyBands(*converter.Get(), png.width, png.height, 4, error,
                     [&](UINT firstRow, UINT rows, const BYTE* band) {
                         uint16_t* out = rgba + firstRow * width * 4;
                         for (size_t i = 0; i < rows * width * 4; ++i) {
                             out[i] = static_cast<uint16_t>(band[i] * (i % 4 == 3 ? 257 : 256));
                         }
                     });
}

const char* ColorTypeName(int colorType) {
    switch (colorType) {
        case PNG_GREY:
            return "grey";
        case PNG_GREY_ALPHA:
            return "grey+alpha";
        case PNG_PALETTE:
            return "palette";
        case PNG_RGB:
            return "RGB";
        default:
            return "RGBA";
    }
}

}  // namespace

bool LooksLikePng(const unsigned char* head, size_t size) {
    return size >= sizeof PNG_SIGNATURE &&
           std::memcmp(head, PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0;
}

int ReadColorPng(const std::string& path, ColorImage& image, std::string& error) {
    WicSession wic;
    if (wic.Factory() == nullptr) {
        error = wic.Error();
        return 0;
    }
    PngFrame png;
    if (!Open(path, *wic.Factory(), png, error)) {
        return 0;
    }
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.rgba.assign(static_cast<size_t>(png.width) * png.height * 4, 0);
    return DecodeRgba16(*wic.Factory(), png, image.rgba.data(), error);
}

int ReadIdPng(const std::string& path, IdImage& image, std::string& error) {
    WicSession wic;
    if (wic.Factory() == nullptr) {
        error = wic.Error();
        return 0;
    }
    PngFrame png;
    if (!Open(path, *wic.Factory(), png, error)) {
        return 0;
    }
    if (png.colorType != PNG_GREY || (png.bitDepth != 8 && png.bitDepth != 16)) {
        error = "an identifier pass must be a grey PNG of 8 or 16 bits, not " +
                std::string(ColorTypeName(png.colorType)) + " of " + std::to_string(png.bitDepth) +
                " bits";
        return 0;
    }
    const size_t count = static_cast<size_t>(png.width) * png.height;
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.ids.assign(count, 0);
    uint16_t* ids = image.ids.data();
    if (IsEqualGUID(png.format, GUID_WICPixelFormat8bppGray) ||
        IsEqualGUID(png.format, GUID_WICPixelFormat16bppGray)) {
        const size_t valueBytes = png.bitDepth == 16 ? 2 : 1;
        return CopyBands(*png.frame.Get(), png.width, png.height, valueBytes, error,
                         [&](UINT firstRow, UINT rows, const BYTE* band) {
                             uint16_t* out = ids + static_cast<size_t>(firstRow) * png.width;
                             for (size_t i = 0; i < rows * static_cast<size_t>(png.width); ++i) {
                                 out[i] = valueBytes == 2 ? GetLe16(band + 2 * i) : band[i];
                             }
                         });
    }
    // A grey PNG with a transparent value comes as a palette or with alpha: its red channel
    // still holds the grey values.
    std::vector<uint16_t> rgba(count * 4);
    if (!DecodeRgba16(*wic.Factory(), png, rgba.data(), error)) {
        return 0;
    }
    const int scale = png.bitDepth == 8 ? 256 : 1;
    for (size_t i = 0; i < count; ++i) {
        ids[i] = static_cast<uint16_t>(rgba[4 * i] / scale);
    }
    return 1;
}
