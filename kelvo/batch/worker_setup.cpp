// What a worker process started by `kelvo render -j N` is sent before it renders, as
// length-prefixed bytes.
#include "kelvo/batch/worker_setup.h"

#include <cstring>

namespace {

constexpr char SETUP_TAG[4] = {'K', 'L', 'V', 'W'};  // offset 0, 4 bytes
constexpr uint32_t SETUP_VERSION = 10;               // offset 4, 32 bits little-endian
// A frame takes at least its three frame numbers, five numbers of its probe and seven string
// lengths.
constexpr size_t MIN_FRAME_BYTES = 15 * 4;

void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

void PutLe64(std::vector<uint8_t>& out, uint64_t value) {
    PutLe32(out, static_cast<uint32_t>(value));
    PutLe32(out, static_cast<uint32_t>(value >> 32));
}

void PutBytes(std::vector<uint8_t>& out, const void* data, size_t size) {
    PutLe32(out, static_cast<uint32_t>(size));
    const auto* bytes = static_cast<const uint8_t*>(data);
    out.insert(out.end(), bytes, bytes + size);
}

void PutString(std::vector<uint8_t>& out, const std::string& text) {
    PutBytes(out, text.data(), text.size());
}

// Reads fields off the front of the bytes; after the first short read every read fails.
class SetupReader {
public:
    SetupReader(const uint8_t* data, size_t size) : at_(data), left_(size) {}

    bool Le32(uint32_t& value) {
        if (left_ < 4) {
            return Fail();
        }
        value = static_cast<uint32_t>(at_[0]) | static_cast<uint32_t>(at_[1]) << 8 |
                static_cast<uint32_t>(at_[2]) << 16 | static_cast<uint32_t>(at_[3]) << 24;
        Skip(4);
        return true;
    }
    bool Le64(uint64_t& value) {
        uint32_t low = 0;
        uint32_t high = 0;
        if (!Le32(low) || !Le32(high)) {
            return false;
        }
        value = static_cast<uint64_t>(high) << 32 | low;
        return true;
    }
    bool Int(int& value) {
        uint32_t bits = 0;
        if (!Le32(bits)) {
            return false;
        }
        // Two's complement, as PutLe32 stored it.
        value = static_cast<int>(static_cast<int32_t>(bits));
        return true;
    }
    bool String(std::string& text) {
        uint32_t size = 0;
        if (!Le32(size) || size > left_) {
            return Fail();
        }
        text.assign(reinterpret_cast<const char*>(at_), size);
        Skip(size);
        return true;
    }
    bool Bytes(std::vector<uint8_t>& bytes) {
        uint32_t size = 0;
        if (!Le32(size) || size > left_) {
            return Fail();
        }
        bytes.assign(at_, at_ + size);
        Skip(size);
        return true;
    }
    bool Tag() {
        if (left_ < sizeof SETUP_TAG || std::memcmp(at_, SETUP_TAG, sizeof SETUP_TAG) != 0) {
            return Fail();
        }
        Skip(sizeof SETUP_TAG);
        return true;
    }
    size_t Left() const { return left_; }

private:
    bool Fail() {
        left_ = 0;
        return false;
    }
    void Skip(size_t size) {
        at_ += size;
        left_ -= size;
    }

    const uint8_t* at_;
    size_t left_;
};

// A count, then each pair as one 32-bit word: the stored value low, the identifier high.
bool ReadIdMap(SetupReader& in, InputOptions& options) {
    uint32_t pairs = 0;
    if (!in.Le32(pairs) || pairs > in.Left() / 4) {
        return false;
    }
    options.idMap.clear();
    for (uint32_t i = 0; i < pairs; ++i) {
        uint32_t word = 0;
        if (!in.Le32(word)) {
            return false;
        }
        options.idMap.emplace_back(static_cast<uint16_t>(word), static_cast<uint16_t>(word >> 16));
    }
    return true;
}

}  // namespace

WorkerSetup WorkerSetupOf(const ParallelRender& run) {
    WorkerSetup setup;
    const auto* settings = reinterpret_cast<const uint8_t*>(run.settings);
    setup.settingsBlock.assign(settings, settings + sizeof *run.settings);
    if (run.choices != nullptr) {
        setup.choices = *run.choices;
    }
    setup.pluginPath = run.pluginPath;
    setup.jobs = static_cast<uint32_t>(run.jobs);
    setup.cacheBytes = run.cacheBytes;
    setup.inputOptions = *run.inputOptions;
    setup.outputs = run.outputs;
    setup.plans = *run.plans;
    setup.inputs = *run.inputs;
    return setup;
}

std::vector<uint8_t> EncodeWorkerSetup(const WorkerSetup& setup) {
    std::vector<uint8_t> out(SETUP_TAG, SETUP_TAG + sizeof SETUP_TAG);
    PutLe32(out, SETUP_VERSION);
    PutBytes(out, setup.settingsBlock.data(), setup.settingsBlock.size());
    const std::vector<uint8_t> choices = EncodeRangeChoices(setup.choices);
    PutBytes(out, choices.data(), choices.size());
    PutString(out, setup.pluginPath);
    PutLe32(out, setup.jobs);
    PutLe64(out, setup.cacheBytes);
    const InputOptions& options = setup.inputOptions;
    PutString(out, options.idsPattern);
    PutString(out, options.exr.idChannel);
    PutString(out, options.exr.layer);
    PutLe32(out, options.exr.linear ? 1 : 0);
    PutLe32(out, static_cast<uint32_t>(options.exr.maxId));
    PutLe32(out, static_cast<uint32_t>(options.idMap.size()));
    for (const auto& [value, id] : options.idMap) {
        PutLe32(out, uint32_t{value} | uint32_t{id} << 16);
    }
    PutLe32(out, options.exr.window == EXR_WINDOW_DATA ? 1 : 0);
    PutString(out, options.exr.view);
    PutLe32(out, static_cast<uint32_t>(options.exrFrameWidth));
    PutLe32(out, static_cast<uint32_t>(options.exrFrameHeight));
    PutString(out, options.exrFrameSizeFrom);
    PutLe32(out, static_cast<uint32_t>(options.backgroundId));
    PutLe32(out, options.alphaBelow);
    PutLe32(out, options.measureLuminance ? 1 : 0);
    PutLe32(out, static_cast<uint32_t>(setup.outputs.transparentIndex));
    PutLe32(out, setup.outputs.bmpRle ? 1 : 0);
    PutLe64(out, static_cast<uint64_t>(options.exr.maxPixels));
    PutLe32(out, static_cast<uint32_t>(setup.plans.size()));
    for (size_t i = 0; i < setup.plans.size(); ++i) {
        const FramePlan& plan = setup.plans[i];
        PutLe32(out, static_cast<uint32_t>(plan.frameNumber));
        PutString(out, plan.label);
        PutString(out, plan.file);
        PutString(out, plan.previewPath);
        PutString(out, plan.bmpPath);
        const InputFrame& input = setup.inputs[i];
        PutString(out, input.colorPath);
        PutLe32(out, static_cast<uint32_t>(input.frameNumber));
        PutLe32(out, static_cast<uint32_t>(input.sourceNumber));
        const InputProbe& probe = input.probe;
        PutLe32(out, probe.kind);
        PutLe32(out, static_cast<uint32_t>(probe.width));
        PutLe32(out, static_cast<uint32_t>(probe.height));
        PutString(out, probe.colorError);
        PutLe32(out, static_cast<uint32_t>(probe.idsWidth));
        PutLe32(out, static_cast<uint32_t>(probe.idsHeight));
        PutString(out, probe.idsError);
    }
    return out;
}

int DecodeWorkerSetup(const uint8_t* data, size_t size, WorkerSetup& setup) {
    SetupReader in(data, size);
    uint32_t version = 0;
    uint32_t linear = 0;
    uint32_t dataWindow = 0;
    uint32_t count = 0;
    uint32_t measure = 0;
    uint32_t rle = 0;
    uint64_t maxPixels = 0;
    std::vector<uint8_t> choices;
    InputOptions& options = setup.inputOptions;
    if (!in.Tag() || !in.Le32(version) || version != SETUP_VERSION ||
        !in.Bytes(setup.settingsBlock) || !in.Bytes(choices) ||
        !DecodeRangeChoices(choices.data(), choices.size(), setup.choices) ||
        !in.String(setup.pluginPath) || !in.Le32(setup.jobs) || !in.Le64(setup.cacheBytes) ||
        !in.String(options.idsPattern) || !in.String(options.exr.idChannel) ||
        !in.String(options.exr.layer) || !in.Le32(linear) || linear > 1 ||
        !in.Int(options.exr.maxId) || !ReadIdMap(in, options) || !in.Le32(dataWindow) ||
        dataWindow > 1 || !in.String(options.exr.view) || !in.Int(options.exrFrameWidth) ||
        !in.Int(options.exrFrameHeight) || !in.String(options.exrFrameSizeFrom) ||
        !in.Int(options.backgroundId) || options.backgroundId < -1 ||
        options.backgroundId > 65535 || !in.Le32(options.alphaBelow) ||
        options.alphaBelow > 65535 || !in.Le32(measure) || measure > 1 ||
        !in.Int(setup.outputs.transparentIndex) || setup.outputs.transparentIndex < -1 ||
        setup.outputs.transparentIndex > 255 || !in.Le32(rle) || rle > 1 || !in.Le64(maxPixels) ||
        maxPixels == 0 || maxPixels > INT64_MAX || !in.Le32(count) || setup.jobs == 0 ||
        count > in.Left() / MIN_FRAME_BYTES) {
        return 0;
    }
    options.measureLuminance = measure == 1;
    setup.outputs.bmpRle = rle == 1;
    options.exr.linear = linear == 1;
    options.exr.maxPixels = static_cast<int64_t>(maxPixels);
    options.exr.window = dataWindow == 1 ? EXR_WINDOW_DATA : EXR_WINDOW_DISPLAY;
    setup.plans.assign(count, FramePlan{});
    setup.inputs.assign(count, InputFrame{});
    for (uint32_t i = 0; i < count; ++i) {
        FramePlan& plan = setup.plans[i];
        InputFrame& input = setup.inputs[i];
        InputProbe& probe = input.probe;
        uint32_t kind = 0;
        if (!in.Int(plan.frameNumber) || !in.String(plan.label) || !in.String(plan.file) ||
            !in.String(plan.previewPath) || !in.String(plan.bmpPath) ||
            !in.String(input.colorPath) || !in.Int(input.frameNumber) ||
            !in.Int(input.sourceNumber) || !in.Le32(kind) || kind > INPUT_EXR ||
            !in.Int(probe.width) || !in.Int(probe.height) || !in.String(probe.colorError) ||
            !in.Int(probe.idsWidth) || !in.Int(probe.idsHeight) || !in.String(probe.idsError) ||
            probe.width < 0 || probe.height < 0 || probe.idsWidth < 0 || probe.idsHeight < 0) {
            return 0;
        }
        probe.kind = static_cast<InputKind>(kind);
    }
    return in.Left() == 0 ? 1 : 0;
}

std::vector<uint8_t> FrameWorkerSetup(const WorkerSetup& setup) {
    const std::vector<uint8_t> encoded = EncodeWorkerSetup(setup);
    if (encoded.size() > WORKER_SETUP_MAX_BYTES) {
        return {};
    }
    std::vector<uint8_t> framed;
    framed.reserve(4 + encoded.size());
    PutLe32(framed, static_cast<uint32_t>(encoded.size()));
    framed.insert(framed.end(), encoded.begin(), encoded.end());
    return framed;
}

int ReadFramedWorkerSetup(const std::function<int(uint8_t*, size_t)>& read, WorkerSetup& setup) {
    uint8_t header[4];
    uint32_t size = 0;
    if (!read(header, sizeof header) || !SetupReader(header, sizeof header).Le32(size) ||
        size > WORKER_SETUP_MAX_BYTES) {
        return 0;
    }
    std::vector<uint8_t> bytes(size);
    return read(bytes.data(), bytes.size()) && DecodeWorkerSetup(bytes.data(), size, setup);
}
