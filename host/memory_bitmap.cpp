// An in-memory frame bitmap with both identifier channels, as the host would hand to a filter.
#include "host/memory_bitmap.h"

#include <algorithm>

namespace {
// The host's descriptions of channel value types, written to GetChannelData's out-parameter.
constexpr ULONG CHANNEL_TYPE_8BIT = 1;
constexpr ULONG CHANNEL_TYPE_16BIT = 2;
}  // namespace

MemoryBitmap::MemoryBitmap(WORD width, WORD height)
    : width_(width),
      height_(height),
      pixels_(static_cast<size_t>(width) * height),
      materialIds_(pixels_.size()),
      objectIds_(pixels_.size()) {}

void* MemoryBitmap::GetChannelData(ULONG channelCode, ULONG& type) {
    if (pixels_.empty()) {
        return nullptr;
    }
    if (channelCode == CHANNEL_MATERIAL_EFFECTS && hasMaterial_) {
        type = CHANNEL_TYPE_8BIT;
        return materialIds_.data();
    }
    if (channelCode == CHANNEL_OBJECT && hasObject_) {
        type = CHANNEL_TYPE_16BIT;
        return objectIds_.data();
    }
    return nullptr;
}

bool MemoryBitmap::InRange(int x, int y, int count) const {
    return x >= 0 && y >= 0 && count >= 0 && static_cast<unsigned>(y) < height_ &&
           static_cast<unsigned>(x) + static_cast<unsigned>(count) <= width_;
}

int MemoryBitmap::ReadSpan(int x, int y, int count, BMM_Color_64* pixels) {
    if (!InRange(x, y, count)) {
        return 0;
    }
    std::copy_n(pixels_.data() + Offset(x, y), count, pixels);
    return 1;
}

int MemoryBitmap::PutSpan(int x, int y, int count, BMM_Color_64* pixels) {
    if (!InRange(x, y, count)) {
        return 0;
    }
    std::copy_n(pixels, count, pixels_.data() + Offset(x, y));
    return 1;
}

void MemoryBitmap::DropChannel(ULONG channelCode) {
    if (channelCode == CHANNEL_MATERIAL_EFFECTS) {
        hasMaterial_ = false;
    } else if (channelCode == CHANNEL_OBJECT) {
        hasObject_ = false;
    }
}
