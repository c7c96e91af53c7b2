// The record beside a run's frame files of what made each of them, and the spans measured over
// sequences.
#include "kelvo/batch/run_record.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include "kelvo/os/file_io.h"
#include "pcx/atomic_file.h"

namespace {

constexpr char HEADER[] = "kelvo-frames 1";
// A record of 100,000 frames is some 5 MB: a larger file is not one kelvo wrote.
constexpr uintmax_t MAX_RECORD_BYTES = 64u << 20;
constexpr size_t MAX_MEASUREMENTS = 32;
// A run holds the lock for the milliseconds a read and a write take.
constexpr auto LOCK_WAIT = std::chrono::milliseconds(20);
constexpr int LOCK_WAITS = 250;
constexpr auto STALE_LOCK = std::chrono::minutes(1);

std::string Hex(uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, value);
    return text;
}

// Exactly 16 lower-case hex digits, as Hex writes them.
bool ParseHex(const std::string& text, uint64_t& value) {
    if (text.size() != 16 || !std::all_of(text.begin(), text.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        })) {
        return false;
    }
    value = std::stoull(text, nullptr, 16);
    return true;
}

// "0:0.052-0.448,3:0.100-0.900", or "-" for no span.
std::string EncodeSpans(const LevelSpans& spans) {
    std::string text;
    for (int id = 0; id < RANGE_COUNT; ++id) {
        if (spans[id]) {
            // (appended in steps: GCC 12 warns, wrongly, on a short literal plus a string)
            text.append(text.empty() ? "" : ",").append(FormatLevelSpan(id, *spans[id]));
        }
    }
    return text.empty() ? "-" : text;
}

bool DecodeSpans(const std::string& text, LevelSpans& spans) {
    if (text == "-") {
        return true;
    }
    std::istringstream items(text);
    for (std::string item; std::getline(items, item, ',');) {
        int id = 0;
        LevelSpan span;
        std::string error;
        if (!ParseLevelSpan(item, id, span, error)) {
            return false;
        }
        spans[id] = span;
    }
    return true;
}

// "7=HASH,8=HASH".
bool DecodeInputs(const std::string& text, std::map<int, uint64_t>& inputs) {
    std::istringstream items(text);
    for (std::string item; std::getline(items, item, ',');) {
        const size_t equals = item.find('=');
        uint64_t hash = 0;
        if (equals == std::string::npos || !ParseHex(item.substr(equals + 1), hash)) {
            return false;
        }
        char* end = nullptr;
        const long number = std::strtol(item.c_str(), &end, 10);
        if (end != item.c_str() + equals || number < INT32_MIN || number > INT32_MAX) {
            return false;
        }
        inputs[static_cast<int>(number)] = hash;
    }
    return !inputs.empty();
}

}  // namespace

RecordHash& RecordHash::Add(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) {
        value_ = (value_ ^ bytes[i]) * 0x100000001b3ULL;
    }
    return *this;
}

RecordHash& RecordHash::Add(const std::string& text) {
    Add(uint64_t{text.size()});
    return Add(text.data(), text.size());
}

RecordHash& RecordHash::Add(uint64_t value) {
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return Add(bytes, sizeof bytes);
}

uint64_t FrameContentHash(int width, int height, const std::vector<uint8_t>& indices,
                          const PaletteEntry* palette) {
    RecordHash hash;
    hash.Add(static_cast<uint64_t>(width)).Add(static_cast<uint64_t>(height));
    hash.Add(indices.data(), indices.size());
    return hash.Add(palette, PALETTE_BYTES).Value();
}

std::string EncodeRunRecord(const RunRecord& record) {
    std::string text = HEADER;
    text +=
        "\n# What made each frame file here, for kelvo render --skip-existing, and "
        "the --levels auto spans measured over its sequences. Safe to delete: "
        "the frames are then rendered again.\n";
    for (const auto& [name, frame] : record.frames) {
        text += "frame " + Hex(frame.key) + " " + Hex(frame.content) + " " + name + "\n";
    }
    for (const LevelsMeasurement& measurement : record.measurements) {
        std::string inputs;
        for (const auto& [number, hash] : measurement.inputs) {
            inputs.append(inputs.empty() ? "" : ",").append(std::to_string(number));
            inputs.append("=").append(Hex(hash));
        }
        text += "levels " + Hex(measurement.key) + " " + EncodeSpans(measurement.spans) + " " +
                inputs + "\n";
    }
    return text;
}

RunRecord DecodeRunRecord(const std::string& text) {
    RunRecord record;
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != HEADER) {
        return record;
    }
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string kind;
        std::string key;
        std::string second;
        words >> kind >> key >> second;
        std::string rest;
        std::getline(words >> std::ws, rest);
        if (kind == "frame") {
            FrameRecord frame;
            // A name is the rest of the line, spaces and all; no directory.
            if (ParseHex(key, frame.key) && ParseHex(second, frame.content) && !rest.empty() &&
                rest.find_first_of("/\\") == std::string::npos) {
                record.frames[rest] = frame;
            }
        } else if (kind == "levels") {
            LevelsMeasurement measurement;
            if (ParseHex(key, measurement.key) && DecodeSpans(second, measurement.spans) &&
                DecodeInputs(rest, measurement.inputs)) {
                KeepMeasurement(record, std::move(measurement));
            }
        }
    }
    return record;
}

const LevelsMeasurement* FindMeasurement(const RunRecord& record, uint64_t key,
                                         const std::map<int, uint64_t>& inputs) {
    const LevelsMeasurement* best = nullptr;
    for (const LevelsMeasurement& measurement : record.measurements) {
        const bool covers =
            measurement.key == key &&
            std::all_of(inputs.begin(), inputs.end(), [&measurement](const auto& input) {
                const auto found = measurement.inputs.find(input.first);
                return found != measurement.inputs.end() && found->second == input.second;
            });
        if (covers && (best == nullptr || measurement.inputs.size() > best->inputs.size())) {
            best = &measurement;
        }
    }
    return best;
}

void KeepMeasurement(RunRecord& record, LevelsMeasurement measurement) {
    auto& kept = record.measurements;
    kept.erase(std::remove_if(kept.begin(), kept.end(),
                              [&measurement](const LevelsMeasurement& old) {
                                  return old.key == measurement.key &&
                                         old.inputs == measurement.inputs;
                              }),
               kept.end());
    kept.push_back(std::move(measurement));
    if (kept.size() > MAX_MEASUREMENTS) {
        kept.erase(kept.begin(), kept.end() - MAX_MEASUREMENTS);
    }
}

std::string RunRecordPath(const std::string& frameFile) {
    return (std::filesystem::path(frameFile).parent_path() / RUN_RECORD_NAME).string();
}

RunRecord ReadRunRecord(const std::string& path) {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    std::vector<uint8_t> bytes;
    std::string reason;
    if (error || size > MAX_RECORD_BYTES || !ReadFileBytes(path, bytes, reason)) {
        return {};
    }
    return DecodeRunRecord(std::string(bytes.begin(), bytes.end()));
}

int UpdateRunRecord(const std::string& path, const std::function<void(RunRecord&)>& change,
                    std::string& error) {
    const std::string lock = path + ".lock";
    FILE* held = nullptr;
    for (int wait = 0; wait < LOCK_WAITS && held == nullptr; ++wait) {
        held = CreateNewFile(lock.c_str());
        if (held == nullptr && errno != EEXIST) {
            break;  // no lock can be made here (and no record written, most likely)
        }
        std::error_code status;
        const auto since = std::filesystem::last_write_time(lock, status);
        if (held == nullptr && !status &&
            std::filesystem::file_time_type::clock::now() - since > STALE_LOCK) {
            std::filesystem::remove(lock, status);
        } else if (held == nullptr) {
            std::this_thread::sleep_for(LOCK_WAIT);
        }
    }
    RunRecord record = ReadRunRecord(path);
    const std::string before = EncodeRunRecord(record);
    change(record);
    const std::string text = EncodeRunRecord(record);
    const int written = text == before ||
                        WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()), error);
    if (held != nullptr) {
        std::fclose(held);
        std::error_code status;
        std::filesystem::remove(lock, status);
    }
    return written;
}
