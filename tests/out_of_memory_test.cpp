// Out-of-memory paths of the linked module; a loaded DLL allocates with its own runtime.
#include <gtest/gtest.h>

#include <cstdio>

#include "host/filter_driver.h"
#include "host/memory_bitmap.h"
#include "plugin/settings.h"
#include "tests/allocation_limit.h"
#include "tests/loaded_module.h"
#include "tests/reference_frame.h"
#include "tests/temp_dir.h"

namespace {

using OutOfMemoryTest = LoadedModuleTest;

TEST_F(OutOfMemoryTest, CreateFilterGivesNullWhenMemoryRunsOut) {
    AllocationLimit limit(sizeof(PaletteRenderSettings));
    EXPECT_EQ(module->CreateFilter(), nullptr);
}

// The frame file's scan-line buffer cannot be had: nothing is thrown back at the host and no
// file, temporary or final, is left behind.
TEST_F(OutOfMemoryTest, RenderSurvivesAFailedAllocationWhileWritingTheFile) {
    TempDir dir;
    FilterHandle filter = CreateFilterFrom(*module);
    ASSERT_NE(filter, nullptr);
    PaletteRenderSettings settings;
    SetDefaultSettings(settings);
    std::snprintf(settings.outputName, sizeof settings.outputName, "%s",
                  dir.File("wide.pcx").c_str());
    ASSERT_EQ(LoadFilterBlock(*filter, &settings, sizeof settings), 1);
    MemoryBitmap frame(60000, 1);
    RenderWindow window;
    int result = -1;
    {
        AllocationLimit limit(100000);
        EXPECT_NO_THROW(result = RenderFilterFrame(*filter, frame, 1, window));
    }
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(dir.Entries().empty());
}

// Without memory for the nearest-colour search, or with too little to finish its cells, every
// pixel still gets the entry the scan of its range gives.
TEST_F(OutOfMemoryTest, NearestSearchWithoutMemoryChoosesTheSame) {
    const auto render = [&](size_t smallestRefused) {
        TempDir dir;
        FilterHandle filter = CreateFilterFrom(*module);
        EXPECT_NE(filter, nullptr);
        PaletteRenderSettings settings;
        SetReferenceSettings(settings, REFERENCE_NEAREST);
        EXPECT_EQ(LoadFilterBlock(*filter, &settings, sizeof settings), 1);
        MemoryBitmap frame(REFERENCE_WIDTH, REFERENCE_HEIGHT);
        FillReferenceFrame(frame);
        RenderWindow window;
        {
            AllocationLimit limit(smallestRefused);
            EXPECT_EQ(RenderFilterFrame(*filter, frame, 1, window), 1);
        }
        return BitmapFingerprint(frame);
    };
    const uint64_t unlimited = render(static_cast<size_t>(-1));
    // No search at all; a search whose cell tables cannot grow past a few blocks.
    for (size_t smallestRefused : {size_t{512}, size_t{12000}}) {
        SCOPED_TRACE(smallestRefused);
        EXPECT_EQ(render(smallestRefused), unlimited);
    }
}

}  // namespace
