// The messages between `kelvo render` and its workers: their kinds, framing and fields.
#include "kelvo/batch/worker_messages.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "kelvo/batch/worker_processes.h"

std::string EncodeMessage(char kind, const std::vector<std::string>& fields) {
    std::string payload(1, kind);
    for (const std::string& field : fields) {
        payload.append(field).push_back('\0');
    }
    const auto length = static_cast<uint32_t>(payload.size());
    char header[sizeof length];
    std::memcpy(header, &length, sizeof length);
    return std::string(header, sizeof header) + payload;
}

void Send(HostLink& link, char kind, const std::vector<std::string>& fields) {
    const std::string message = EncodeMessage(kind, fields);
    // A host that has gone away cannot be told anything; the worker ends either way.
    link.Write(message.data(), message.size());
}

bool TakeMessage(std::string& buffer, WorkerMessage& message) {
    uint32_t length = 0;
    if (buffer.size() < sizeof length) {
        return false;
    }
    std::memcpy(&length, buffer.data(), sizeof length);
    if (length == 0 || buffer.size() - sizeof length < length) {
        return false;
    }
    const std::string payload = buffer.substr(sizeof length, length);
    buffer.erase(0, sizeof length + length);
    message.kind = payload[0];
    message.fields.clear();
    size_t start = 1;
    for (size_t end = payload.find('\0', start); end != std::string::npos;
         end = payload.find('\0', start)) {
        message.fields.push_back(payload.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

size_t IndexField(const WorkerMessage& message) {
    if (message.fields.empty()) {
        return SIZE_MAX;
    }
    char* end = nullptr;
    const unsigned long long index = std::strtoull(message.fields[0].c_str(), &end, 10);
    return end != nullptr && *end == '\0' && index < SIZE_MAX ? static_cast<size_t>(index)
                                                              : SIZE_MAX;
}

std::vector<std::string> EncodeChecked(const CheckedFrames& checked) {
    std::vector<std::string> fields;
    for (int side : {checked.minWidth, checked.maxWidth, checked.minHeight, checked.maxHeight}) {
        fields.push_back(std::to_string(side));
    }
    fields.push_back(checked.luminance.Encode());
    return fields;
}

CheckedFrames ParseChecked(const std::vector<std::string>& fields) {
    CheckedFrames checked;
    int* sides[] = {&checked.minWidth, &checked.maxWidth, &checked.minHeight, &checked.maxHeight};
    for (size_t i = 0; i < 4; ++i) {
        const unsigned long long side = std::strtoull(fields[i].c_str(), nullptr, 10);
        *sides[i] = side <= INT_MAX ? static_cast<int>(side) : INT_MAX;
    }
    if (!checked.luminance.Decode(fields[4])) {
        checked.luminance = LuminanceHistogram{};
    }
    return checked;
}

std::vector<std::string> EncodeFrameOutcome(size_t index, const FrameOutcome& outcome) {
    std::vector<std::string> said = {std::to_string(index),
                                     outcome.written ? "1" : "0",
                                     outcome.file,
                                     outcome.reason,
                                     outcome.previewReason,
                                     outcome.bmpReason,
                                     std::to_string(outcome.content)};
    for (uint64_t pixels : outcome.ids.pixels) {
        said.push_back(std::to_string(pixels));
    }
    said.push_back(std::to_string(outcome.ids.beyond));
    std::string listed;
    for (const auto& [id, pixels] : outcome.ids.listed) {
        listed += listed.empty() ? "" : ",";
        listed += std::to_string(id) + ":" + std::to_string(pixels);
    }
    said.push_back(listed);
    return said;
}

bool ParseFrameOutcome(const WorkerMessage& message, size_t frameCount, size_t& index,
                       FrameOutcome& outcome) {
    index = IndexField(message);
    if (message.kind != MESSAGE_FRAME || message.fields.size() != FRAME_FIELDS ||
        index >= frameCount) {
        return false;
    }
    outcome.written = message.fields[1] == "1";
    outcome.file = message.fields[2];
    outcome.reason = message.fields[3];
    outcome.previewReason = message.fields[4];
    outcome.bmpReason = message.fields[5];
    outcome.content = std::strtoull(message.fields[6].c_str(), nullptr, 10);
    for (size_t id = 0; id <= RANGE_COUNT; ++id) {
        const uint64_t pixels = std::strtoull(message.fields[7 + id].c_str(), nullptr, 10);
        (id < RANGE_COUNT ? outcome.ids.pixels[id] : outcome.ids.beyond) = pixels;
    }
    // A pair that does not read is left out: the list only names identifiers in a warning.
    const std::string& listed = message.fields[7 + RANGE_COUNT + 1];
    outcome.ids.listed.clear();
    for (size_t at = 0; at < listed.size() && outcome.ids.listed.size() < MAX_LISTED_IDS;) {
        const size_t end = std::min(listed.find(',', at), listed.size());
        char* rest = nullptr;
        const unsigned long id = std::strtoul(listed.c_str() + at, &rest, 10);
        if (rest != nullptr && *rest == ':' && id >= RANGE_COUNT && id <= 65535) {
            const unsigned long long pixels = std::strtoull(rest + 1, nullptr, 10);
            outcome.ids.listed.emplace_back(static_cast<uint16_t>(id), pixels);
        }
        at = end + 1;
    }
    return true;
}

uint32_t ReadWord(HostLink& link) {
    uint32_t word = 0;
    return link.Read(reinterpret_cast<char*>(&word), sizeof word) ? word : NO_MORE_FRAMES;
}

bool ReadBlock(HostLink& link, size_t frameCount, std::deque<uint32_t>& block) {
    const uint32_t count = ReadWord(link);
    if (count == 0 || count > MAX_BLOCK_FRAMES) {
        return false;
    }
    uint32_t frames[MAX_BLOCK_FRAMES];
    if (!link.Read(reinterpret_cast<char*>(frames), count * sizeof frames[0])) {
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (frames[i] >= frameCount) {
            return false;
        }
        block.push_back(frames[i]);
    }
    return true;
}
