// Each input's headers are read once: the probe answers the check as the files would.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "image_files.h"
#include "kelvo/batch/frame_input.h"
#include "kelvo/os/file_identity.h"
#include "temp_dir.h"

namespace {

struct Answer {
    int result = 0;
    int width = 0;
    int height = 0;
    std::string error;
    int sized = 0;  // the pixels FrameSizeFromHeaders gives; -1 when it gives none
};

Answer Check(const InputFrame& input, const InputOptions& options) {
    Answer answer;
    answer.result = CheckInputHeaders(input, options, answer.width, answer.height, answer.error);
    int width = 0;
    int height = 0;
    answer.sized = FrameSizeFromHeaders(input, options, width, height) ? width * height : -1;
    return answer;
}

// The check of a probed frame gives what the check of its files gives, and needs them no more;
// so it does for each of many frames, which threads probe together.
TEST(InputProbeTest, AnswersTheCheckAsTheFilesDidAfterTheyAreGone) {
    const TestPng rgba(4, 3, 6, 8, std::vector<uint16_t>(4 * 3 * 4, 200));
    const TestPng grey(4, 3, 0, 8, std::vector<uint16_t>(4 * 3, 1));
    const TestPng wide(5, 3, 0, 8, std::vector<uint16_t>(5 * 3, 1));
    struct Case {
        const char* name;
        const TestPng* color;  // null: a file of text
        bool colorThere;
        const TestPng* ids;  // null: no identifier pass
        bool idsThere;
        const char* layer;
    };
    const Case cases[] = {
        {"a good PNG", &rgba, true, nullptr, false, ""},
        {"with identifiers of its size", &rgba, true, &grey, true, ""},
        {"with identifiers of another size", &rgba, true, &wide, true, ""},
        {"with identifiers missing", &rgba, true, &grey, false, ""},
        {"a missing colour file", &rgba, false, nullptr, false, ""},
        {"a file of text", nullptr, true, nullptr, false, ""},
        {"a PNG given --layer", &rgba, true, nullptr, false, "beauty"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        InputFrame input{dir.File("c_0001.png"), 1, 1, {}};
        InputOptions options;
        options.exr.layer = c.layer;
        if (c.ids != nullptr) {
            options.idsPattern = dir.File("i_####.png");
            if (c.idsThere) {
                WriteTestPng(dir.File("i_0001.png"), *c.ids);
            }
        }
        if (c.colorThere && c.color != nullptr) {
            WriteTestPng(input.colorPath, *c.color);
        } else if (c.colorThere) {
            std::ofstream(input.colorPath) << "not an image at all\n";
        }
        const Answer files = Check(input, options);
        std::vector<InputFrame> probed(300, input);
        ProbeInputs(probed, options, [] { return false; });
        std::filesystem::remove(input.colorPath);
        std::filesystem::remove(dir.File("i_0001.png"));
        for (const InputFrame& frame : probed) {
            const Answer probe = Check(frame, options);
            ASSERT_EQ(probe.result, files.result);
            ASSERT_EQ(probe.width, files.width);
            ASSERT_EQ(probe.height, files.height);
            ASSERT_EQ(probe.error, files.error);
            ASSERT_EQ(probe.sized, files.sized);
        }
    }
}

#ifndef _WIN32
// The run's record tells versions of an input apart by the time the file system library gives
// (on Windows, by the system's own 100 ns ticks).
TEST(InputProbeTest, IdentifiesAFileByTheTimeTheFileSystemLibraryGives) {
    TempDir dir;
    const std::string path = dir.File("a.png");
    std::ofstream(path) << "x";
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() -
                                               std::chrono::hours(30) +
                                               std::chrono::nanoseconds(123456789));
    for (const char* name : {"a.png", "missing.png"}) {
        SCOPED_TRACE(name);
        std::error_code missing;
        const auto time = std::filesystem::last_write_time(dir.File(name), missing);
        const FileIdentity identity = IdentifyFile(dir.File(name));
        EXPECT_EQ(identity.exists, !missing);
        if (!missing) {
            EXPECT_EQ(identity.modified, time.time_since_epoch().count());
        }
    }
}
#endif

}  // namespace
