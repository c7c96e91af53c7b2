// The test host's frame bitmap: pixels and identifier channels in fixed storage, and a record
// of what the filter asked of it.
#include "tests/msvc_host/host_bitmap.h"

namespace {

bool InsideFrame(int x, int y, int count, const BMM_Color_64* buffer) {
    return buffer != nullptr && y >= 0 && y < FRAME_HEIGHT && x >= 0 && count >= 0 &&
           count <= FRAME_WIDTH - x;
}

}  // namespace

void HostBitmap::Fill() {
    for (int y = 0; y < FRAME_HEIGHT; ++y) {
        for (int x = 0; x < FRAME_WIDTH; ++x) {
            const unsigned ux = static_cast<unsigned>(x);
            const unsigned uy = static_cast<unsigned>(y);
            pixels[y][x] = {static_cast<WORD>(ux * 1789 + uy * 4093),
                            static_cast<WORD>(ux * 3001 + uy * 1237 + 20000),
                            static_cast<WORD>((ux ^ uy) * 2731),
                            static_cast<WORD>(ux * 31 + uy * 977)};
            objectIds[y * FRAME_WIDTH + x] = static_cast<WORD>((ux / 2 + uy) % 18);
            materialIds[y * FRAME_WIDTH + x] = 0;
        }
    }
    channelAsked = 0;
    rowReads = pixelReads = pixelWrites = 0;
    outsideFrame = false;
}

void* HostBitmap::GetChannelData(ULONG channelCode, ULONG& type) {
    channelAsked = channelCode;
    type = 0;
    switch (channelCode) {
        case CHANNEL_OBJECT:
            return objectIds;
        case CHANNEL_MATERIAL_EFFECTS:
            return materialIds;
        default:
            return nullptr;
    }
}

int HostBitmap::ReadPixels(int x, int y, int count, BMM_Color_64* out) {
    if (!InsideFrame(x, y, count, out)) {
        outsideFrame = true;
        return 0;
    }
    ++(count == 1 ? pixelReads : rowReads);
    for (int i = 0; i < count; ++i) {
        out[i] = pixels[y][x + i];
    }
    return 1;
}

int HostBitmap::PutPixels(int x, int y, int count, BMM_Color_64* in) {
    if (!InsideFrame(x, y, count, in)) {
        outsideFrame = true;
        return 0;
    }
    pixelWrites += count;
    for (int i = 0; i < count; ++i) {
        pixels[y][x + i] = in[i];
    }
    return 1;
}
