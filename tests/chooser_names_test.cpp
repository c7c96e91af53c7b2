#include "ui/chooser_names.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

namespace {

struct Buffer {
    char path[CHOOSER_PATH_SIZE];
    explicit Buffer(const std::string& text) {
        std::memset(path, '#', sizeof path);
        std::memcpy(path, text.c_str(), text.size() + 1);
    }
};

TEST(ChooserNamesTest, OutputNameIsReducedToItsStem) {
    struct Case {
        const char* returned;
        const char* stored;
    };
    const Case cases[] = {
        {"C:\\out\\shot0012.pcx", "C:\\out\\shot.pcx"},
        {"C:\\out\\shot", "C:\\out\\shot.pcx"},
        {"C:\\out\\SHOT.PCX", "C:\\out\\SHOT.pcx"},
        {"C:\\out\\shot.bmp", "C:\\out\\shot.pcx"},
        {"C:\\out\\a.b.pcx", "C:\\out\\a.pcx"},
        // The directory's '.' and the digit before it belong to the directory.
        {"C:\\job7.old\\shot.pcx", "C:\\job7.old\\shot.pcx"},
        {"C:\\job7.old\\shot", "C:\\job7.old\\shot.pcx"},
        {"C:/job.7/take12.Pcx", "C:/job.7/take.pcx"},
        {"0012.pcx", ".pcx"},
        {"C:\\out\\0012.pcx", "C:\\out\\.pcx"},
        {"C:\\out7\\0012.pcx", "C:\\out7\\.pcx"},
        {"", ".pcx"},
        {"pcx", "pcx.pcx"},
        {"a.pc", "a.pcx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.returned);
        Buffer buffer(c.returned);
        ASSERT_EQ(NormaliseOutputName(buffer.path), 1);
        EXPECT_STREQ(buffer.path, c.stored);
    }
}

TEST(ChooserNamesTest, PaletteNameOnlyGetsItsEnding) {
    struct Case {
        const char* returned;
        const char* completed;
    };
    const Case cases[] = {
        {"C:\\pal\\pal", "C:\\pal\\pal.pcx"},
        {"C:\\pal\\frame0012.PCX", "C:\\pal\\frame0012.PCX"},
        {"C:\\pal.d\\a.b", "C:\\pal.d\\a.b.pcx"},
        {"", ".pcx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.returned);
        Buffer buffer(c.returned);
        ASSERT_EQ(CompletePcxFileName(buffer.path), 1);
        EXPECT_STREQ(buffer.path, c.completed);
    }
}

TEST(ChooserNamesTest, LongPathsFitOrAreRefusedUnchanged) {
    const std::string dir = "C:\\" + std::string(200, 'd') + "\\";
    struct Case {
        const char* name;
        std::string returned;
        int result;
    };
    const Case cases[] = {
        {"251 characters take the ending", dir + std::string(251 - dir.size(), 'f'), 1},
        {"252 characters leave no room", dir + std::string(252 - dir.size(), 'f'), 0},
        {"255 characters leave no room", dir + std::string(255 - dir.size(), 'f'), 0},
        {"255 characters ending in .pcx", dir + std::string(251 - dir.size(), 'f') + ".PCX", 1},
        {"255 characters cut before .bmp", dir + std::string(251 - dir.size(), 'f') + ".bmp", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int (*rule)(char(&)[CHOOSER_PATH_SIZE]) :
             {&CompletePcxFileName, &NormaliseOutputName}) {
            Buffer buffer(c.returned);
            const Buffer before(c.returned);
            ASSERT_EQ(rule(buffer.path), c.result);
            if (c.result == 0) {
                EXPECT_EQ(std::memcmp(buffer.path, before.path, CHOOSER_PATH_SIZE), 0);
            } else {
                EXPECT_LE(std::strlen(buffer.path), 255u);
                std::string ending(buffer.path + std::strlen(buffer.path) - 4);
                for (char& ch : ending) {
                    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
                }
                EXPECT_EQ(ending, ".pcx");
            }
        }
    }
}

TEST(ChooserNamesTest, UnterminatedBufferIsRefusedUnread) {
    char path[CHOOSER_PATH_SIZE];
    std::memset(path, 'x', sizeof path);
    EXPECT_EQ(CompletePcxFileName(path), 0);
    EXPECT_EQ(NormaliseOutputName(path), 0);
    for (char c : path) {
        ASSERT_EQ(c, 'x');
    }
}

}  // namespace
