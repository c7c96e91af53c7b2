// The test host's frame bitmap: pixels and identifier channels in fixed storage, and a record
// of what the filter asked of it.
#pragma once

#include "tests/msvc_host/host_interface.h"

// Odd: a PCX line holds exactly the width, with no pad byte.
constexpr int FRAME_WIDTH = 37;
constexpr int FRAME_HEIGHT = 13;

class HostBitmap final : public Bitmap {
public:
    // The test frame, from integer formulas that tests/module_render_test.cpp repeats for the
    // native build: colours, alpha, and identifiers 0-17 (16 and 17 lie beyond the ranges).
    void Fill();

    WORD Width() override { return FRAME_WIDTH; }
    WORD Height() override { return FRAME_HEIGHT; }
    void* GetChannelData(ULONG channelCode, ULONG& type) override;
    int ReadPixels(int x, int y, int count, BMM_Color_64* out) override;
    int PutPixels(int x, int y, int count, BMM_Color_64* in) override;

    BMM_Color_64 pixels[FRAME_HEIGHT][FRAME_WIDTH] = {};
    WORD objectIds[FRAME_HEIGHT * FRAME_WIDTH] = {};
    unsigned char materialIds[FRAME_HEIGHT * FRAME_WIDTH] = {};

    // What the filter did, since the last Fill.
    ULONG channelAsked = 0;
    int rowReads = 0;
    int pixelReads = 0;
    int pixelWrites = 0;
    bool outsideFrame = false;  // some call named pixels outside the frame, or no buffer
};
