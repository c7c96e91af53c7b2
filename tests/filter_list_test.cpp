#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hostapi/host_api.h"

namespace {

// The text up to and including the empty string that ends it.
std::string Whole(const FilterList& list) {
    const char* text = list.Text();
    size_t length = 0;
    while (text[length] != '\0') {
        length += std::strlen(text + length) + 1;
    }
    return std::string(text, length + 1);
}

TEST(FilterListTest, EndsEveryStringAndTheWholeWithNul) {
    FilterList list;
    EXPECT_EQ(Whole(list), std::string(1, '\0'));
    list.Append("PCX Files (*.pcx)");
    list.Append("*.pcx");
    EXPECT_EQ(Whole(list), std::string("PCX Files (*.pcx)\0*.pcx\0\0", 25));
}

TEST(FilterListTest, DropsWhatDoesNotFitAndStaysWellFormed) {
    FilterList list;
    list.Append("first");
    const std::string huge(600, 'h');
    list.Append(huge.c_str());
    list.Append(nullptr);
    list.Append("*.x");
    EXPECT_EQ(Whole(list), std::string("first\0*.x\0\0", 11));
    const std::string chunk(100, 'c');
    for (int i = 0; i < 10; ++i) {
        list.Append(chunk.c_str());
    }
    const std::string whole = Whole(list);
    EXPECT_LE(whole.size(), 512u);
    EXPECT_EQ(whole.substr(whole.size() - 2), std::string(2, '\0'));
}

}  // namespace
