// The messages between kelvo and its workers: framing, the fields of a frame's outcome, and
// what the host does with malformed ones.
#include "kelvo/batch/worker_messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>

#include "kelvo/batch/worker_processes.h"

namespace {

// The framing written out by hand: a 32-bit length in this machine's byte order, the payload.
std::string Framed(const std::string& payload) {
    const auto length = static_cast<uint32_t>(payload.size());
    char header[sizeof length];
    std::memcpy(header, &length, sizeof length);
    return std::string(header, sizeof header) + payload;
}

TEST(WorkerMessagesTest, FramesMessagesAndTakesOnlyWholeOnes) {
    using namespace std::string_literals;
    struct Case {
        const char* name;
        std::string bytes;
        bool whole;
        char kind;
        std::vector<std::string> fields;
        size_t left;  // bytes left in the buffer afterwards
    };
    const Case cases[] = {
        {"no fields", EncodeMessage(MESSAGE_NEXT, {}), true, MESSAGE_NEXT, {}, 0},
        {"fields, one empty",
         EncodeMessage(MESSAGE_BAD_INPUT, {"7", "", "x"}),
         true,
         MESSAGE_BAD_INPUT,
         {"7", "", "x"},
         0},
        {"as written by hand", Framed("B12\0bad\0"s), true, MESSAGE_BAD_INPUT, {"12", "bad"}, 0},
        {"a second message stays", Framed("N"s) + Framed("I"s), true, MESSAGE_NEXT, {}, 5},
        {"unended last field is dropped", Framed("B3\0rest"s), true, MESSAGE_BAD_INPUT, {"3"}, 0},
        {"short length", "\x01\x00"s, false, 0, {}, 2},
        {"short payload", Framed("B1\0x\0"s).substr(0, 7), false, 0, {}, 7},
        {"length 0", Framed(""), false, 0, {}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string buffer = c.bytes;
        WorkerMessage message;
        ASSERT_EQ(TakeMessage(buffer, message), c.whole);
        EXPECT_EQ(buffer.size(), c.left);
        if (c.whole) {
            EXPECT_EQ(message.kind, c.kind);
            EXPECT_EQ(message.fields, c.fields);
        }
    }
}

TEST(WorkerMessagesTest, ReadsBackAFrameOutcomeAndRefusesMalformedOnes) {
    FrameOutcome sent;
    sent.written = true;
    sent.file = "out/frame 0001.pcx";
    sent.previewReason = "cannot write 'a.png': No space left on device";
    sent.content = 0xFEDCBA9876543210ULL;
    for (int id = 0; id < RANGE_COUNT; ++id) {
        sent.ids.pixels[id] = static_cast<uint64_t>(id) * 1000003;
    }
    sent.ids.beyond = 5;
    sent.ids.listed = {{300, 3}, {16, 1}, {65535, 1}};
    const std::vector<std::string> fields = EncodeFrameOutcome(3, sent);
    // Pairs that do not read are left out; the rest of the message stands.
    std::vector<std::string> badPairs = fields;
    badPairs.back() = "300:3,15:9,x:1,16:1,70000:2,65535:1";
    std::vector<std::string> shortOne = fields;
    shortOne.pop_back();
    std::vector<std::string> badIndex = fields;
    badIndex[0] = "3x";
    struct Case {
        const char* name;
        WorkerMessage message;
        bool taken;
    };
    const Case cases[] = {
        {"as sent", {MESSAGE_FRAME, fields}, true},
        {"identifiers that cannot be listed", {MESSAGE_FRAME, badPairs}, true},
        {"another kind", {MESSAGE_BAD_INPUT, fields}, false},
        {"a field short", {MESSAGE_FRAME, shortOne}, false},
        {"index not a number", {MESSAGE_FRAME, badIndex}, false},
        {"index beyond the frames", {MESSAGE_FRAME, EncodeFrameOutcome(4, sent)}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        size_t index = 0;
        FrameOutcome got;
        ASSERT_EQ(ParseFrameOutcome(c.message, 4, index, got), c.taken);
        if (c.taken) {
            EXPECT_EQ(index, 3u);
            EXPECT_EQ(got.written, sent.written);
            EXPECT_EQ(got.file, sent.file);
            EXPECT_EQ(got.reason, sent.reason);
            EXPECT_EQ(got.previewReason, sent.previewReason);
            EXPECT_EQ(got.bmpReason, sent.bmpReason);
            EXPECT_EQ(got.content, sent.content);
            EXPECT_EQ(0, std::memcmp(got.ids.pixels, sent.ids.pixels, sizeof got.ids.pixels));
            EXPECT_EQ(got.ids.beyond, sent.ids.beyond);
            EXPECT_EQ(got.ids.listed, sent.ids.listed);
        }
    }
}

// The host's words as a worker reads them, from memory.
class WordsLink final : public HostLink {
public:
    explicit WordsLink(std::vector<uint32_t> words) : words_(std::move(words)) {}
    int Write(const char*, size_t) override { return 1; }
    int Read(char* data, size_t size) override {
        if (size % sizeof(uint32_t) != 0 || size / sizeof(uint32_t) > words_.size() - at_) {
            return 0;
        }
        std::memcpy(data, words_.data() + at_, size);
        at_ += size / sizeof(uint32_t);
        return 1;
    }

private:
    std::vector<uint32_t> words_;
    size_t at_ = 0;
};

// A block is read whole, up to MAX_BLOCK_FRAMES; the end of the frames, a closed pipe and blocks
// that are none (empty, too long, a frame beyond the run, cut short) are refused.
TEST(WorkerMessagesTest, ReadsABlockOfFramesAndRefusesWhatIsNotOne) {
    struct Case {
        const char* name;
        std::vector<uint32_t> words;
        bool taken;
    };
    const Case cases[] = {
        {"a block", {3, 7, 2, 9}, true},
        {"the most frames", std::vector<uint32_t>(1 + MAX_BLOCK_FRAMES, MAX_BLOCK_FRAMES), true},
        {"no more frames", {NO_MORE_FRAMES}, false},
        {"closed", {}, false},
        {"empty", {0}, false},
        {"too long", std::vector<uint32_t>(2 + MAX_BLOCK_FRAMES, MAX_BLOCK_FRAMES + 1), false},
        {"a frame beyond the run", {2, 1, 20}, false},
        {"cut short", {3, 1, 2}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WordsLink link(c.words);
        std::deque<uint32_t> block;
        ASSERT_EQ(ReadBlock(link, 20, block), c.taken);
        if (c.taken) {
            EXPECT_EQ(std::vector<uint32_t>(block.begin(), block.end()),
                      std::vector<uint32_t>(c.words.begin() + 1, c.words.end()));
        }
    }
}

}  // namespace
