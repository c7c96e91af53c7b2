// An in-memory frame bitmap with both identifier channels, as the host would hand to a filter.
#pragma once

#include <cstdint>
#include <vector>

#include "hostapi/host_api.h"

class MemoryBitmap final : public Bitmap {
public:
    MemoryBitmap(WORD width, WORD height);

    WORD Width() override { return static_cast<WORD>(width_); }
    WORD Height() override { return static_cast<WORD>(height_); }
    void* GetChannelData(ULONG channelCode, ULONG& type) override;

    // Filters read and write one pixel at a time, so that case is checked and copied here,
    // where a compiler that sees the caller can inline it; everything else goes the long way.
    int ReadPixels(int x, int y, int count, BMM_Color_64* pixels) override {
        if (count == 1 && static_cast<unsigned>(x) < width_ && static_cast<unsigned>(y) < height_) {
            *pixels = pixels_[Offset(x, y)];
            return 1;
        }
        return ReadSpan(x, y, count, pixels);
    }
    int PutPixels(int x, int y, int count, BMM_Color_64* pixels) override {
        if (count == 1 && static_cast<unsigned>(x) < width_ && static_cast<unsigned>(y) < height_) {
            pixels_[Offset(x, y)] = *pixels;
            return 1;
        }
        return PutSpan(x, y, count, pixels);
    }

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
    int ReadSpan(int x, int y, int count, BMM_Color_64* pixels);
    int PutSpan(int x, int y, int count, BMM_Color_64* pixels);

    // Not WORD: stores of 16-bit pixel channels would then count as possible changes to them.
    unsigned width_;
    unsigned height_;
    std::vector<BMM_Color_64> pixels_;
    std::vector<uint8_t> materialIds_;
    std::vector<uint16_t> objectIds_;
    bool hasMaterial_ = true;
    bool hasObject_ = true;
};
