// Writes palettised frames as one animated GIF with one global 256-entry colour table, with
// giflib.
#include <gif_lib.h>

#include <cerrno>
#include <cstring>

#include "kelvo/imageio/gif_animation.h"
#include "pcx/atomic_file.h"

namespace {

// The bits of colour resolution the screen descriptor states: 8, as every entry is 8-bit.
constexpr int GIF_COLOR_RESOLUTION = 8;
// The NETSCAPE2.0 application extension: sub-block 1, then the loop count (0: forever), LE16.
constexpr char LOOP_APPLICATION[] = "NETSCAPE2.0";
constexpr GifByteType LOOP_FOREVER[3] = {1, 0, 0};

int WriteToSink(GifFileType* gif, const GifByteType* data, int size) {
    auto* sink = static_cast<ByteSink*>(gif->UserData);
    return size > 0 && sink->Write(data, static_cast<size_t>(size)) ? size : 0;
}

// giflib's reason for the last failure; a failed write is the system's.
std::string GifReason(int code) {
    if (code == E_GIF_ERR_WRITE_FAILED) {
        return std::strerror(errno != 0 ? errno : EIO);
    }
    const char* text = GifErrorString(code);
    return text != nullptr ? text : "giflib error " + std::to_string(code);
}

// Everything after EGifOpen; `gif` is closed by the caller whatever happens here.
int EncodeFrames(GifFileType* gif, const GifAnimation& animation, const GifFrameSource& frames,
                 std::string& error) {
    GifColorType colours[PALETTE_ENTRIES];
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        colours[i] = {animation.palette[i].red, animation.palette[i].green,
                      animation.palette[i].blue};
    }
    // EGifPutScreenDesc keeps a copy of the map.
    ColorMapObject* map = GifMakeMapObject(PALETTE_ENTRIES, colours);
    if (map == nullptr) {
        error = "out of memory";
        return 0;
    }
    EGifSetGifVersion(gif, true);
    const int background = animation.transparentIndex >= 0 ? animation.transparentIndex : 0;
    // EncodeGifAnimation has seen that the enlarged frame fits.
    const int screenWidth = animation.width * animation.scale;
    const int screenHeight = animation.height * animation.scale;
    const int screen =
        EGifPutScreenDesc(gif, screenWidth, screenHeight, GIF_COLOR_RESOLUTION, background, map);
    GifFreeMapObject(map);
    if (screen == GIF_ERROR ||
        EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR ||
        EGifPutExtensionBlock(gif, sizeof LOOP_APPLICATION - 1, LOOP_APPLICATION) == GIF_ERROR ||
        EGifPutExtensionBlock(gif, sizeof LOOP_FOREVER, LOOP_FOREVER) == GIF_ERROR ||
        EGifPutExtensionTrailer(gif) == GIF_ERROR) {
        error = GifReason(gif->Error);
        return 0;
    }
    GraphicsControlBlock control{};
    control.DisposalMode =
        animation.transparentIndex >= 0 ? DISPOSE_BACKGROUND : DISPOSAL_UNSPECIFIED;
    control.UserInputFlag = false;
    control.DelayTime = animation.delayCentiseconds;
    control.TransparentColor =
        animation.transparentIndex >= 0 ? animation.transparentIndex : NO_TRANSPARENT_COLOR;
    GifByteType extension[4];
    const size_t extensionSize = EGifGCBToExtension(&control, extension);
    const auto width = static_cast<size_t>(animation.width);
    const auto scale = static_cast<size_t>(animation.scale);
    std::vector<uint8_t> indices;
    std::vector<uint8_t> enlarged(width * scale);
    for (size_t frame = 0; frame < animation.frameCount; ++frame) {
        indices.clear();
        if (!frames(frame, indices, error)) {
            return 0;
        }
        if (indices.size() != width * static_cast<size_t>(animation.height)) {
            error = "frame " + std::to_string(frame + 1) + " has another size than the first";
            return 0;
        }
        if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(extensionSize),
                             extension) == GIF_ERROR ||
            EGifPutImageDesc(gif, 0, 0, screenWidth, screenHeight, false, nullptr) == GIF_ERROR) {
            error = GifReason(gif->Error);
            return 0;
        }
        for (size_t row = 0; row < static_cast<size_t>(animation.height); ++row) {
            uint8_t* line = &indices[row * width];
            if (scale > 1) {
                for (size_t x = 0; x < enlarged.size(); ++x) {
                    enlarged[x] = line[x / scale];
                }
                line = enlarged.data();
            }
            for (size_t copy = 0; copy < scale; ++copy) {
                if (EGifPutLine(gif, line, screenWidth) == GIF_ERROR) {
                    error = GifReason(gif->Error);
                    return 0;
                }
            }
        }
    }
    return 1;
}

}  // namespace

int EncodeGifAnimation(const GifAnimation& gif, const GifFrameSource& frames, ByteSink& sink,
                       std::string& error) {
    if (gif.width < 1 || gif.height < 1 || gif.scale < 1 || gif.width > 0xFFFF / gif.scale ||
        gif.height > 0xFFFF / gif.scale || gif.frameCount == 0 || gif.palette == nullptr) {
        error = "no frames of a size a GIF can hold";
        return 0;
    }
    int code = 0;
    GifFileType* file = EGifOpen(&sink, WriteToSink, &code);
    if (file == nullptr) {
        error = GifReason(code);
        return 0;
    }
    int encoded = EncodeFrames(file, gif, frames, error);
    // Closing writes the trailer and frees giflib's state, even after a failure.
    if (EGifCloseFile(file, &code) == GIF_ERROR && encoded) {
        error = GifReason(code);
        encoded = 0;
    }
    return encoded;
}

int WriteGifAnimation(const std::string& path, const GifAnimation& gif,
                      const GifFrameSource& frames, std::string& error) {
    bool encoderFailed = false;
    if (WriteFileAtomically(path.c_str(), [&](ByteSink& sink) {
            const int encoded = EncodeGifAnimation(gif, frames, sink, error);
            encoderFailed = encoded == 0;
            return encoded;
        })) {
        return 1;
    }
    if (!encoderFailed) {
        error = std::strerror(errno);
    }
    return 0;
}
