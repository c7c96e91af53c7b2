// What the host does with one filter: store and restore its block, and render a frame.
#include "host/filter_driver.h"

#include <cstring>

int SaveFilterBlock(ImageFilter& filter, std::vector<uint8_t>& block) {
    block.assign(filter.ConfigBlockSize(), 0);
    if (block.empty() || filter.SaveConfigBlock(block.data()) != 1) {
        block.clear();
        return 0;
    }
    return 1;
}

int LoadFilterBlock(ImageFilter& filter, const void* block, size_t size) {
    if (block == nullptr || size != filter.ConfigBlockSize()) {
        return 0;
    }
    // The filter's operation takes a writable pointer; it gets a copy of its own.
    std::vector<uint8_t> copy(size);
    std::memcpy(copy.data(), block, size);
    return filter.LoadConfigBlock(copy.data()) == 1 ? 1 : 0;
}

int RenderFilterFrame(ImageFilter& filter, Bitmap& frame, int frameNumber, RenderWindow& window) {
    ImageFilterInfo info{frameNumber};
    filter.SetSource(&frame);
    filter.SetFilterInfo(&info);
    const int result = filter.RenderFrame(window.Handle());
    // The filter must not keep pointers to the host's frame and record after this call.
    filter.SetFilterInfo(nullptr);
    filter.SetSource(nullptr);
    return result;
}
