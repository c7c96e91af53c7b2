// The palette files kelvo reads for --palette and `palette show`, told apart by content.
#include "kelvo/imageio/palette_file.h"

#include <cstring>

#include "kelvo/os/file_io.h"
#include "pcx/byte_sink.h"
#include "pcx/pcx_format.h"

namespace {

constexpr uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t PNG_CHUNK_OVERHEAD = 12;  // length (4, big-endian), type (4), CRC (4)
constexpr uint8_t PNG_COLOR_TYPE_INDEXED = 3;
constexpr size_t PNG_IHDR_COLOR_TYPE = 9;  // offset in IHDR's data, 1 byte

// RIFF PAL: "RIFF", LE32 size, "PAL ", then chunks of a 4-byte id, an LE32 size and the data,
// padded to an even length. The "data" chunk: LE16 version, LE16 count, count x R G B flags.
constexpr size_t RIFF_HEADER_SIZE = 12;
constexpr size_t RIFF_CHUNK_HEADER_SIZE = 8;

constexpr size_t ACT_SIZE = PALETTE_BYTES + 4;  // then BE16 count, BE16 transparent index
constexpr uint16_t ACT_NO_TRANSPARENT = 0xFFFF;

uint32_t GetBe32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 |
           static_cast<uint32_t>(at[2]) << 8 | at[3];
}

uint32_t GetLe32(const uint8_t* at) {
    return at[0] | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

// The CRC-32 of PNG chunks (ISO 3309), bit by bit: a PLTE is at most 772 bytes.
uint32_t Crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return crc ^ 0xFFFFFFFFu;
}

// Colours as a file gives them, before they fill the palette.
struct Colours {
    std::vector<PaletteEntry> entries;
    PaletteFileInfo info;
};

std::string TooMany(size_t count) {
    return "it has " + std::to_string(count) + " colours; a palette has at most 256";
}

int DecodePng(const std::vector<uint8_t>& bytes, Colours& out, std::string& error) {
    out.info.format = "indexed PNG";
    size_t at = sizeof PNG_SIGNATURE;
    bool first = true;
    while (bytes.size() - at >= PNG_CHUNK_OVERHEAD) {
        const uint32_t length = GetBe32(&bytes[at]);
        const uint8_t* type = &bytes[at + 4];
        if (length > bytes.size() - at - PNG_CHUNK_OVERHEAD) {
            break;
        }
        const uint8_t* data = type + 4;
        const bool ihdr = std::memcmp(type, "IHDR", 4) == 0;
        if (first != ihdr) {
            error = "a damaged PNG file: it does not start with its IHDR chunk";
            return 0;
        }
        first = false;
        if (ihdr && (length <= PNG_IHDR_COLOR_TYPE ||
                     data[PNG_IHDR_COLOR_TYPE] != PNG_COLOR_TYPE_INDEXED)) {
            error =
                "a PNG file that is not indexed: kelvo reads the palette (PLTE) of indexed PNGs";
            return 0;
        }
        if (std::memcmp(type, "PLTE", 4) == 0) {
            if (GetBe32(data + length) != Crc32(type, length + 4)) {
                error = "a damaged PNG file: PLTE: CRC error";
                return 0;
            }
            if (length == 0 || length % 3 != 0 || length > PALETTE_BYTES) {
                error = "a damaged PNG file: its PLTE has " + std::to_string(length) +
                        " bytes, not 3 to 768 in whole entries";
                return 0;
            }
            for (size_t i = 0; i < length; i += 3) {
                out.entries.push_back({data[i], data[i + 1], data[i + 2]});
            }
            return 1;
        }
        if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0) {
            break;
        }
        at += PNG_CHUNK_OVERHEAD + length;
    }
    error = "a PNG file without a palette (PLTE) before its image data";
    return 0;
}

int DecodeRiff(const std::vector<uint8_t>& bytes, Colours& out, std::string& error) {
    out.info.format = "RIFF PAL";
    size_t at = RIFF_HEADER_SIZE;
    while (bytes.size() - at >= RIFF_CHUNK_HEADER_SIZE) {
        const uint32_t size = GetLe32(&bytes[at + 4]);
        const uint8_t* data = &bytes[at + RIFF_CHUNK_HEADER_SIZE];
        const size_t left = bytes.size() - at - RIFF_CHUNK_HEADER_SIZE;
        if (size > left) {
            break;
        }
        if (std::memcmp(&bytes[at], "data", 4) == 0) {
            const size_t count = size >= 4 ? GetLe16(data + 2) : 0;
            if (size < 4 || count * 4 > size - 4) {
                error = "a damaged RIFF PAL file: its data chunk is shorter than its count says";
                return 0;
            }
            if (count == 0 || count > PALETTE_ENTRIES) {
                error = count == 0 ? "a RIFF PAL file with no colours" : TooMany(count);
                return 0;
            }
            for (size_t i = 0; i < count; ++i) {
                const uint8_t* entry = data + 4 + 4 * i;
                out.entries.push_back({entry[0], entry[1], entry[2]});
            }
            return 1;
        }
        at += RIFF_CHUNK_HEADER_SIZE + size + (size & 1);
        if (at > bytes.size()) {
            break;
        }
    }
    error = "a RIFF PAL file without a whole data chunk";
    return 0;
}

// The file's lines, without their ends (CRLF, LF or CR) and a leading byte order mark.
std::vector<std::string> SplitLines(const std::vector<uint8_t>& bytes) {
    std::string text(bytes.begin(), bytes.end());
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text.erase(0, 3);
    }
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\n' || text[i] == '\r') {
            lines.push_back(text.substr(start, i - start));
            if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    return lines;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && IsSpace(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t length = std::strlen(prefix);
    if (text.size() < length) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
        if (lower(text[i]) != lower(prefix[i])) {
            return false;
        }
    }
    return true;
}

// Whitespace-separated words.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && IsSpace(line[at])) {
            ++at;
        }
        const size_t start = at;
        while (at < line.size() && !IsSpace(line[at])) {
            ++at;
        }
        if (at > start) {
            words.push_back(line.substr(start, at - start));
        }
    }
    return words;
}

// A decimal number of at most `maximum`, digits only.
bool ParseNumber(const std::string& word, long maximum, long& value) {
    if (word.empty() || word.size() > 9) {
        return false;
    }
    value = 0;
    for (char c : word) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    return value <= maximum;
}

// `channels` numbers 0..255 at the start of `words` (an alpha fourth is read and dropped).
bool ParseColour(const std::vector<std::string>& words, size_t channels, PaletteEntry& entry) {
    long values[4] = {};
    if (words.size() < channels) {
        return false;
    }
    for (size_t i = 0; i < channels; ++i) {
        if (!ParseNumber(words[i], 255, values[i])) {
            return false;
        }
    }
    entry = {static_cast<uint8_t>(values[0]), static_cast<uint8_t>(values[1]),
             static_cast<uint8_t>(values[2])};
    return true;
}

std::string LineError(size_t line, const std::string& what) {
    return "line " + std::to_string(line + 1) + ": " + what;
}

// Text formats are read only from files this small: a palette of 256 colours with long names
// and comments still takes a few tens of kilobytes, and an image is not split into lines.
constexpr size_t TEXT_MAX_BYTES = size_t{1} << 20;

int DecodeJasc(const std::vector<std::string>& lines, Colours& out, std::string& error) {
    out.info.format = "JASC-PAL";
    long count = 0;
    if (lines.size() < 3 || !ParseNumber(Trim(lines[2]), 999999999, count)) {
        error = "a JASC-PAL file without its version and colour count lines";
        return 0;
    }
    if (count == 0 || count > PALETTE_ENTRIES) {
        error = count == 0 ? "a JASC-PAL file of no colours" : TooMany(static_cast<size_t>(count));
        return 0;
    }
    for (size_t i = 3; i < lines.size(); ++i) {
        const std::vector<std::string> words = Words(lines[i]);
        if (words.empty()) {
            continue;
        }
        PaletteEntry entry{};
        if ((words.size() != 3 && words.size() != 4) || !ParseColour(words, words.size(), entry)) {
            error = LineError(i, "expected R G B or R G B A, each 0 to 255");
            return 0;
        }
        out.entries.push_back(entry);
    }
    if (out.entries.size() != static_cast<size_t>(count)) {
        error = "a JASC-PAL file whose count line says " + std::to_string(count) +
                " colours but which has " + std::to_string(out.entries.size());
        return 0;
    }
    return 1;
}

int DecodeGpl(const std::vector<std::string>& lines, Colours& out, std::string& error) {
    out.info.format = "GIMP GPL";
    size_t channels = 3;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string line = Trim(lines[i]);
        if (line.empty() || line[0] == '#' || StartsWithNoCase(line, "Name:") ||
            StartsWithNoCase(line, "Columns:")) {
            continue;
        }
        if (StartsWithNoCase(line, "Channels:")) {
            const std::string value = Trim(line.substr(9));
            if (value != "RGB" && value != "RGBA") {
                error = LineError(i, "channels '" + value + "': kelvo reads RGB and RGBA");
                return 0;
            }
            channels = value.size();
            continue;
        }
        PaletteEntry entry{};
        if (!ParseColour(Words(line), channels, entry)) {
            error = LineError(i, channels == 3 ? "expected R G B, each 0 to 255, and a name"
                                               : "expected R G B A, each 0 to 255, and a name");
            return 0;
        }
        out.entries.push_back(entry);
    }
    if (out.entries.empty() || out.entries.size() > PALETTE_ENTRIES) {
        error = out.entries.empty() ? "a GIMP palette of no colours" : TooMany(out.entries.size());
        return 0;
    }
    return 1;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// 1 for a Lospec .hex file, -1 for one of more than 256 colours, 0 when the text is no such
// file (a line that is not RRGGBB, or no line at all).
int DecodeHex(const std::vector<std::string>& lines, Colours& out) {
    out.info.format = "Lospec .hex";
    for (const std::string& raw : lines) {
        std::string line = Trim(raw);
        if (line.empty()) {
            continue;
        }
        if (line[0] == '#') {
            line.erase(0, 1);
        }
        if (line.size() != 6) {
            return 0;
        }
        uint8_t rgb[3];
        for (size_t c = 0; c < 3; ++c) {
            const int high = HexDigit(line[2 * c]);
            const int low = HexDigit(line[2 * c + 1]);
            if (high < 0 || low < 0) {
                return 0;
            }
            rgb[c] = static_cast<uint8_t>(high * 16 + low);
        }
        out.entries.push_back({rgb[0], rgb[1], rgb[2]});
    }
    if (out.entries.empty()) {
        return 0;
    }
    return out.entries.size() > PALETTE_ENTRIES ? -1 : 1;
}

int DecodeColours(const std::vector<uint8_t>& bytes, Colours& out, std::string& error) {
    if (bytes.size() >= sizeof PNG_SIGNATURE &&
        std::memcmp(bytes.data(), PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0) {
        return DecodePng(bytes, out, error);
    }
    if (bytes.size() >= RIFF_HEADER_SIZE && std::memcmp(bytes.data(), "RIFF", 4) == 0 &&
        std::memcmp(&bytes[8], "PAL ", 4) == 0) {
        return DecodeRiff(bytes, out, error);
    }
    const std::vector<std::string> lines =
        bytes.size() <= TEXT_MAX_BYTES ? SplitLines(bytes) : std::vector<std::string>{};
    const std::string head = lines.empty() ? "" : Trim(lines[0]);
    if (StartsWithNoCase(head, "JASC-PAL")) {
        return DecodeJasc(lines, out, error);
    }
    if (StartsWithNoCase(head, "GIMP Palette")) {
        return DecodeGpl(lines, out, error);
    }
    Colours hex;
    const int hexFound = DecodeHex(lines, hex);
    if (hexFound != 0) {
        out = hex;
        if (hexFound < 0) {
            error = TooMany(out.entries.size());
        }
        return hexFound > 0 ? 1 : 0;
    }
    if (!bytes.empty() && bytes[PCX_MANUFACTURER] == PCX_MANUFACTURER_ZSOFT &&
        bytes.size() >= PCX_HEADER_SIZE + PCX_TRAILER_SIZE) {
        out.info.format = "PCX";
        const uint8_t* trailer = bytes.data() + bytes.size() - PCX_TRAILER_SIZE;
        if (trailer[0] != PCX_PALETTE_MARKER) {
            error = "a PCX file without a 256-colour palette at its end; " +
                    std::string(PALETTE_FORMATS);
            return 0;
        }
        out.entries.resize(PALETTE_ENTRIES);
        std::memcpy(out.entries.data(), trailer + 1, PALETTE_BYTES);
        return 1;
    }
    if (bytes.size() == ACT_SIZE) {
        out.info.format = "Photoshop ACT";
        const size_t count = static_cast<size_t>(bytes[PALETTE_BYTES]) << 8 | bytes[769];
        const size_t transparent = static_cast<size_t>(bytes[770]) << 8 | bytes[771];
        if (count == 0 || count > PALETTE_ENTRIES ||
            (transparent != ACT_NO_TRANSPARENT && transparent >= count)) {
            error = "772 bytes, as a Photoshop ACT file, but its count (" + std::to_string(count) +
                    ") or transparent index (" + std::to_string(transparent) + ") is out of range";
            return 0;
        }
        out.entries.resize(count);
        std::memcpy(out.entries.data(), bytes.data(), 3 * count);
        out.info.transparentIndex =
            transparent == ACT_NO_TRANSPARENT ? -1 : static_cast<int>(transparent);
        return 1;
    }
    if (bytes.size() == PALETTE_BYTES) {
        out.info.format = "raw";
        out.entries.resize(PALETTE_ENTRIES);
        std::memcpy(out.entries.data(), bytes.data(), PALETTE_BYTES);
        return 1;
    }
    error = "not a palette file kelvo knows (" + std::to_string(bytes.size()) + " bytes); " +
            std::string(PALETTE_FORMATS);
    return 0;
}

uint8_t ScaleSixBit(uint8_t value) {
    // 255/63 never leaves exactly one half, so rounding half up is rounding to nearest. Some
    // games write 64 for full brightness; it stays full.
    const int scaled = (value * 255 + 31) / 63;
    return static_cast<uint8_t>(scaled > 255 ? 255 : scaled);
}

}  // namespace

int DecodePaletteFile(const std::vector<uint8_t>& bytes, PaletteDepth depth,
                      PaletteEntry (&palette)[PALETTE_ENTRIES], PaletteFileInfo& info,
                      std::string& error) {
    Colours colours;
    if (!DecodeColours(bytes, colours, error)) {
        return 0;
    }
    colours.info.entries = static_cast<int>(colours.entries.size());
    bool sixBit = depth == PALETTE_DEPTH_6;
    if (depth == PALETTE_DEPTH_GUESS && std::strcmp(colours.info.format, "raw") == 0) {
        sixBit = true;
        for (uint8_t value : bytes) {
            sixBit = sixBit && value <= 63;
        }
        colours.info.sixBitGuessed = sixBit;
    }
    colours.info.sixBit = sixBit;
    std::memset(palette, 0, sizeof palette);
    for (size_t i = 0; i < colours.entries.size(); ++i) {
        PaletteEntry entry = colours.entries[i];
        if (sixBit) {
            entry = {ScaleSixBit(entry.red), ScaleSixBit(entry.green), ScaleSixBit(entry.blue)};
        }
        palette[i] = entry;
    }
    info = colours.info;
    return 1;
}

std::string DescribePaletteFile(const PaletteFileInfo& info) {
    std::vector<std::string> parts;
    if (info.entries < PALETTE_ENTRIES) {
        const std::string count = std::to_string(info.entries);
        parts.push_back(count + (info.entries == 1 ? " colour (" : " colours (") + info.format +
                        "), so entries " + count + "-255 are black");
    }
    if (info.sixBit) {
        parts.push_back(std::string("6-bit values (0-63), scaled by 255/63 and rounded") +
                        (info.sixBitGuessed ? ", as every byte is 63 or less (--palette-depth 8 "
                                              "takes them as they are)"
                                            : ""));
    }
    if (info.transparentIndex >= 0) {
        const std::string index = std::to_string(info.transparentIndex);
        parts.push_back("entry " + index + " marked transparent (--transparent " + index +
                        " marks it in PNG and GIF files)");
    }
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : "; ") + part;
    }
    return text;
}

int ReadPaletteFile(const std::string& path, PaletteDepth depth,
                    PaletteEntry (&palette)[PALETTE_ENTRIES], PaletteFileInfo& info,
                    std::string& error) {
    std::vector<uint8_t> bytes;
    std::string reason;
    if (!ReadFileBytes(path, bytes, reason) ||
        !DecodePaletteFile(bytes, depth, palette, info, reason)) {
        error = "cannot read palette '" + path + "': " + reason;
        return 0;
    }
    return 1;
}
