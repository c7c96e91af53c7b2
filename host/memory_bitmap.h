// An in-memory frame bitmap with both identifier channels, as the host would hand to a filter.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/host_api.h"

class MemoryBitmap final : public Bitmap {
public:
    MemoryBitmap(WORD width, WORD height);

    WORD Width() override { return width_; }
    WORD Height() override { return height_; }
    void* GetChannelData(ULONG channelCode, ULONG& type) override;
    int ReadPixels(int x, int y, int count, BMM_Color_64* pixels) override;
    int PutPixels(int x, int y, int count, BMM_Color_64* pixels) override;

    BMM_Color_64& Pixel(int x, int y) { return pixels_[Offset(x, y)]; }
    uint8_t& MaterialId(int x, int y) { return materialIds_[Offset(x, y)]; }
    uint16_t& ObjectId(int x, int y) { return objectIds_[Offset(x, y)]; }
    std::vector<BMM_Color_64>& Pixels() { return pixels_; }
    std::vector<uint8_t>& MaterialIds() { return materialIds_; }
    std::vector<uint16_t>& ObjectIds() { return objectIds_; }

    // Without a channel GetChannelData answers null for it, as a host does that did not
    // render the channel.
    void DropChannel(ULONG channelCode);

private:
    size_t Offset(int x, int y) const {
        return static_cast<size_t>(y) * width_ + static_cast<size_t>(x);
    }
    bool InRange(int x, int y, int count) const;

    WORD width_;
    WORD height_;
    std::vector<BMM_Color_64> pixels_;
    std::vector<uint8_t> materialIds_;
    std::vector<uint16_t> objectIds_;
    bool hasMaterial_ = true;
    bool hasObject_ = true;
};
