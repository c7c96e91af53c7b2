// The host's default behaviour of the ImageFilter base class, linked into every filter.
#include "hostapi/host_api.h"

ImageFilter::ImageFilter() = default;
ImageFilter::~ImageFilter() = default;

int ImageFilter::ShowControlDialog(HWND) {
    return 0;
}
void ImageFilter::SetSource(Bitmap* bitmap) {
    sourceMap = bitmap;
}
void ImageFilter::SetForeground(Bitmap* bitmap) {
    foregroundMap = bitmap;
}
void ImageFilter::SetMask(Bitmap* bitmap) {
    maskMap = bitmap;
}
void ImageFilter::SetFilterInfo(ImageFilterInfo* info) {
    filterInfo = info;
}
int ImageFilter::Max() {
    return 65535;
}

int ImageFilter::Lerp(int a, int b, float l) {
    return a + static_cast<int>(static_cast<float>(b - a) * l);
}

// l runs from 0 to 65535, as the pixel channels do.
int ImageFilter::Lerp(int a, int b, int l) {
    return a + static_cast<int>((static_cast<int64_t>(b - a) * l) / 65535);
}

DWORD ImageFilter::ConfigBlockSize() {
    return 0;
}
int ImageFilter::LoadConfigBlock(void*) {
    return 1;
}
int ImageFilter::SaveConfigBlock(void*) {
    return 1;
}
int ImageFilter::CreatePreview(HWND, Bitmap**) {
    return 0;
}
DWORD ImageFilter::RequiredChannels() {
    return 0;
}
HWND ImageFilter::DlgHandle() {
    return dialogHandle;
}
void ImageFilter::MakeDlgInteractive(HWND dialog) {
    dialogHandle = dialog;
}
int ImageFilter::IsInteractive() {
    return dialogHandle != nullptr ? 1 : 0;
}
int ImageFilter::CreateNode(HWND) {
    return 0;
}
void* ImageFilter::Node() {
    return node;
}
void ImageFilter::FilterUpdate() {}
