// The refusals the probe of an input and its decoder share.
#include "kelvo/batch/input_checks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kelvo/imageio/exr_image.h"

ImageKind SniffImage(const std::string& path, std::string& error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return IMAGE_UNREADABLE;
    }
    unsigned char head[8] = {};
    const size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    if (LooksLikePng(head, got)) {
        return IMAGE_PNG;
    }
    if (LooksLikeExr(head, got)) {
        return IMAGE_EXR;
    }
    error = "not a PNG or OpenEXR file";
    return IMAGE_OTHER;
}

std::string Quote(const std::string& path) {
    return "'" + path + "'";
}

std::string SizeText(int width, int height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

int CheckPngOptions(const std::string& path, const InputOptions& options, std::string& error) {
    const char* const exrOption = !options.exr.layer.empty()       ? "--layer"
                                  : !options.exr.idChannel.empty() ? "--id-channel"
                                  : !options.exr.view.empty()      ? "--view"
                                                                   : nullptr;
    if (exrOption != nullptr) {
        error = Quote(path) + " is a PNG; " + exrOption + " needs OpenEXR input";
        return 0;
    }
    return 1;
}

ImageKind SniffColorFile(const std::string& path, const InputOptions& options, std::string& error) {
    std::string reason;
    const ImageKind kind = SniffImage(path, reason);
    if (kind == IMAGE_UNREADABLE || kind == IMAGE_OTHER) {
        error = "cannot read " + Quote(path) + ": " + reason;
        return IMAGE_UNREADABLE;
    }
    return kind == IMAGE_PNG && !CheckPngOptions(path, options, error) ? IMAGE_UNREADABLE : kind;
}

int CheckExrFrameSize(const std::string& path, const InputOptions& options, int width, int height,
                      std::string& error) {
    if (options.exrFrameWidth > 0 &&
        (width != options.exrFrameWidth || height != options.exrFrameHeight)) {
        error = Quote(path) + " has a display window of " + SizeText(width, height) +
                " pixels, but " + Quote(options.exrFrameSizeFrom) + " has " +
                SizeText(options.exrFrameWidth, options.exrFrameHeight) +
                ": the frames of one run must have one size";
        return 0;
    }
    return 1;
}

int ReadIdsHeader(const std::string& path, const InputOptions& options, PngHeader& header,
                  std::string& reason, uintmax_t fileBytes) {
    if (!ReadPngHeader(path, header, reason, fileBytes)) {
        return 0;
    }
    reason = RefuseIdPassLayout(header.colorType, header.bitDepth);
    // The rows as stored, and the identifiers.
    const auto pixelBytes = static_cast<size_t>(header.channels * header.bitDepth / 8 + 2);
    return reason.empty() && CheckPngFrameSize(header, options.exr.maxPixels, pixelBytes, reason);
}

int CheckIdsSize(const std::string& idsPath, int idsWidth, int idsHeight,
                 const std::string& colorPath, int width, int height, std::string& error) {
    if (idsWidth != width || idsHeight != height) {
        error = "identifiers " + Quote(idsPath) + " are " + SizeText(idsWidth, idsHeight) +
                " pixels but colour " + Quote(colorPath) + " is " + SizeText(width, height);
        return 0;
    }
    return 1;
}
