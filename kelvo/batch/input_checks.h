// The refusals the probe of an input (input_probe.cpp) and its decoder (frame_input.cpp) share.
#pragma once

#include <cstdint>
#include <string>

#include "kelvo/batch/input_options.h"
#include "kelvo/imageio/png_image.h"

enum ImageKind { IMAGE_UNREADABLE, IMAGE_PNG, IMAGE_EXR, IMAGE_OTHER };

// What kind of image a file is by its first bytes; IMAGE_UNREADABLE (and `error`) when it does
// not open, IMAGE_OTHER (and `error`) when it is neither PNG nor OpenEXR.
ImageKind SniffImage(const std::string& path, std::string& error);

// 'PATH', quoted for messages.
std::string Quote(const std::string& path);

// "WIDTH x HEIGHT".
std::string SizeText(int width, int height);

// The options that only an OpenEXR file can answer are refused for a PNG.
[[nodiscard]] int CheckPngOptions(const std::string& path, const InputOptions& options,
                                  std::string& error);

// What kind of image a colour file is: IMAGE_PNG or IMAGE_EXR, or IMAGE_UNREADABLE (and
// `error`) for a file that does not read, is neither, or is a PNG given an option that only an
// OpenEXR file can answer.
ImageKind SniffColorFile(const std::string& path, const InputOptions& options, std::string& error);

// An OpenEXR frame must have the run's size, when the run has one.
[[nodiscard]] int CheckExrFrameSize(const std::string& path, const InputOptions& options, int width,
                                    int height, std::string& error);

// The header of an identifier pass, refused as ReadIdPng would refuse it; the file's size is
// `fileBytes` when the caller has just looked it up.
[[nodiscard]] int ReadIdsHeader(const std::string& path, const InputOptions& options,
                                PngHeader& header, std::string& reason,
                                uintmax_t fileBytes = UINTMAX_MAX);

// An identifier pass must have its colour file's size.
[[nodiscard]] int CheckIdsSize(const std::string& idsPath, int idsWidth, int idsHeight,
                               const std::string& colorPath, int width, int height,
                               std::string& error);
