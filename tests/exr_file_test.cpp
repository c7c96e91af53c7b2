// An OpenEXR file read through one handle: the full reader's stream against the library's own
// file stream, and both readers on a file whose name is gone.
#include <gtest/gtest.h>

#include <ImfStdIO.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kelvo/imageio/exr_file.h"
#include "kelvo/imageio/exr_memory.h"
#include "tests/exr_files.h"
#include "tests/temp_dir.h"

namespace {

// What one stream call gave: its value or the message it threw, and the bytes it read.
std::string Outcome(Imf::IStream& stream, char call, uint64_t value) {
    try {
        if (call == 'r') {
            std::vector<char> bytes(static_cast<size_t>(value));
            const bool more = stream.read(bytes.data(), static_cast<int>(value));
            return std::to_string(more) + " " + std::string(bytes.begin(), bytes.end());
        }
        if (call == 's') {
            stream.seekg(value);
            return "seek";
        }
        if (call == 'c') {
            stream.clear();
            return "clear";
        }
        return std::to_string(stream.tellg());
    } catch (const std::exception& failure) {
        return failure.what();
    }
}

// Every call, reads within the buffer and beyond it, past the end and after failing, gives
// what the library's own file stream gives.
TEST(ExrFileTest, StreamReadsAndFailsAsTheLibrarysFileStream) {
    TempDir dir;
    std::string bytes(100000, '\0');  // more than the stream buffers
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>('a' + i * 7 % 26);
    }
    std::ofstream(dir.File("in.exr"), std::ios::binary) << bytes;
    ExrFile file;
    std::string error;
    ASSERT_EQ(OpenExrFile(dir.File("in.exr"), file, error), 1) << error;
    EXPECT_EQ(file.size, bytes.size());
    Imf::StdIFStream reference(dir.File("in.exr").c_str());
    ExrStream stream(file);
    struct Call {
        char call;  // r: read, s: seekg, t: tellg, c: clear
        uint64_t value;
    };
    const Call calls[] = {
        {'r', 4}, {'r', 70000}, {'t', 0},          {'s', 10}, {'r', 3}, {'s', 99990}, {'r', 20},
        {'t', 0}, {'r', 1},     {'s', 0},          {'t', 0},  {'c', 0}, {'t', 0},     {'r', 0},
        {'s', 5}, {'r', 65536}, {'s', 1ull << 63}, {'t', 0},  {'r', 1}, {'c', 0},     {'s', 200000},
        {'r', 1}, {'c', 0},     {'s', 99999},      {'r', 1},  {'t', 0}};
    for (const Call& c : calls) {
        SCOPED_TRACE(std::string(1, c.call) + " " + std::to_string(c.value));
        EXPECT_EQ(Outcome(stream, c.call, c.value), Outcome(reference, c.call, c.value));
    }
}

// Opened once, a file is read through its handle, whatever then becomes of its name.
TEST(ExrFileTest, ReadersReadTheOpenFileAfterItsNameIsGone) {
    TempDir dir;
    TestExrPart part;
    part.width = 3;
    part.height = 2;
    part.channels = {{"R", 2, {0, 1, 2, 3, 4, 5}}};
    WriteTestExr(dir.File("in.exr"), {part});
    ExrFile file;
    std::string error;
    ASSERT_EQ(OpenExrFile(dir.File("in.exr"), file, error), 1) << error;
    std::filesystem::rename(dir.File("in.exr"), dir.File("moved.exr"));
    ASSERT_EQ(CheckHeaders(file, error), 1) << error;
    ExrStream stream(file);
    const auto reader = OpenFullReader(stream, file.size, error);
    ASSERT_NE(reader, nullptr) << error;
    EXPECT_EQ(reader->header(0).dataWindow().max.x, 2);
    ExrFile missing;
    EXPECT_EQ(OpenExrFile(dir.File("in.exr"), missing, error), 0);
    EXPECT_EQ(error.rfind("Unable to open file for read: ", 0), 0u) << error;
}

}  // namespace
