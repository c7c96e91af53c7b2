// Writes a palettised frame as an 8-bit indexed PNG with the Windows Imaging Component.
#include <windows.h>

#include <wincodec.h>

#include <vector>

#include "kelvo/imageio/png_preview.h"
#include "kelvo/imageio/wic_session_win32.h"
#include "kelvo/os/file_io.h"

namespace {

// Encodes the frame into a memory stream; the file is written from it in one checked step.
int Encode(IWICImagingFactory& factory, IStream& memory, const uint8_t* indices, UINT width,
           UINT height, const PaletteEntry* palette, std::string& error) {
    ComReference<IWICBitmapEncoder> encoder;
    ComReference<IWICBitmapFrameEncode> frame;
    ComReference<IPropertyBag2> options;
    ComReference<IWICPalette> colours;
    WICPixelFormatGUID format = GUID_WICPixelFormat8bppIndexed;
    HRESULT result = factory.CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.Receive());
    if (SUCCEEDED(result)) {
        result = encoder->Initialize(&memory, WICBitmapEncoderNoCache);
    }
    if (SUCCEEDED(result)) {
        result = encoder->CreateNewFrame(frame.Receive(), options.Receive());
    }
    if (SUCCEEDED(result)) {
        result = frame->Initialize(options.Get());
    }
    if (SUCCEEDED(result)) {
        result = frame->SetSize(width, height);
    }
    if (SUCCEEDED(result)) {
        result = frame->SetPixelFormat(&format);
    }
    // The encoder names the layout it will write; anything but 8-bit indices would not be
    // the preview asked for.
    if (SUCCEEDED(result) && !IsEqualGUID(format, GUID_WICPixelFormat8bppIndexed)) {
        error = "the Windows Imaging Component cannot write 8-bit indexed PNG files";
        return 0;
    }
    if (SUCCEEDED(result)) {
        result = factory.CreatePalette(colours.Receive());
    }
    if (SUCCEEDED(result)) {
        WICColor entries[PALETTE_ENTRIES];
        for (int i = 0; i < PALETTE_ENTRIES; ++i) {
            entries[i] = 0xFF000000u | static_cast<WICColor>(palette[i].red) << 16 |
                         static_cast<WICColor>(palette[i].green) << 8 | palette[i].blue;
        }
        result = colours->InitializeCustom(entries, PALETTE_ENTRIES);
    }
    if (SUCCEEDED(result)) {
        result = frame->SetPalette(colours.Get());
    }
    if (SUCCEEDED(result)) {
        // The encoder only reads the rows it is given.
        result = frame->WritePixels(height, width, width * height, const_cast<BYTE*>(indices));
    }
    if (SUCCEEDED(result)) {
        result = frame->Commit();
    }
    if (SUCCEEDED(result)) {
        result = encoder->Commit();
    }
    if (FAILED(result)) {
        error = "cannot encode the PNG: " + DescribeWicFailure(result);
        return 0;
    }
    return 1;
}

// The bytes written into the memory stream.
int StreamBytes(IStream& memory, std::vector<uint8_t>& bytes, std::string& error) {
    STATSTG status{};
    HGLOBAL global = nullptr;
    HRESULT result = memory.Stat(&status, STATFLAG_NONAME);
    if (SUCCEEDED(result)) {
        result = GetHGlobalFromStream(&memory, &global);
    }
    if (FAILED(result) || status.cbSize.HighPart != 0) {
        error = "cannot encode the PNG: " + DescribeWicFailure(result);
        return 0;
    }
    const void* data = GlobalLock(global);
    if (data == nullptr) {
        error = "cannot encode the PNG: out of memory";
        return 0;
    }
    const auto* first = static_cast<const uint8_t*>(data);
    bytes.assign(first, first + status.cbSize.LowPart);
    GlobalUnlock(global);
    return 1;
}

}  // namespace

int WriteIndexedPng(const std::string& path, const uint8_t* indices, int width, int height,
                    const PaletteEntry* palette, std::string& error) {
    if (width < 1 || height < 1) {
        error = "empty frame";
        return 0;
    }
    WicSession wic;
    if (wic.Factory() == nullptr) {
        error = wic.Error();
        return 0;
    }
    ComReference<IStream> memory;
    const HRESULT created = CreateStreamOnHGlobal(nullptr, TRUE, memory.Receive());
    if (FAILED(created)) {
        error = "cannot encode the PNG: " + DescribeWicFailure(created);
        return 0;
    }
    std::vector<uint8_t> bytes;
    if (!Encode(*wic.Factory(), *memory.Get(), indices, static_cast<UINT>(width),
                static_cast<UINT>(height), palette, error) ||
        !StreamBytes(*memory.Get(), bytes, error)) {
        return 0;
    }
    return WriteFileBytes(path, bytes, error);
}
