// Writes small OpenEXR inputs with OpenEXR for the host's tests.
#pragma once

#include <string>
#include <vector>

// One channel of an OpenEXR part: float, half or unsigned int values, one per pixel.
struct TestExrChannel {
    std::string name;
    int type = 2;  // Imf::PixelType: 0 UINT, 1 HALF, 2 FLOAT
    std::vector<float> values;
};

struct TestExrPart {
    std::string name;  // empty: unnamed (single-part files only)
    int width = 1;     // data window size
    int height = 1;
    int originX = 0;  // data window origin
    int originY = 0;
    std::vector<TestExrChannel> channels;
    int compression = 3;  // Imf::Compression: 0 none, 3 ZIP, 4 PIZ, 5 PXR24, 8 DWAA, ...
    // The display window: origin and size; a width of 0 makes it the data window.
    int displayX = 0;
    int displayY = 0;
    int displayWidth = 0;
    int displayHeight = 0;
    int tileSide = 0;    // square tiles of this side; 0: scanlines
    bool deep = false;   // deep scanline (or deep tiled) data, one sample per pixel
    std::string view{};  // the part's view attribute; empty: none
    std::vector<std::string> multiView{};  // a multiView attribute; empty: none
};

// One part gives a single-part file; more give a multi-part file.
void WriteTestExr(const std::string& path, const std::vector<TestExrPart>& parts);
