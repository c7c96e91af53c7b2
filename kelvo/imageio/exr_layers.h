// Which views, layers and channels of an OpenEXR file a request reads.
#pragma once

#include <ImfHeader.h>
#include <ImfMultiPartInputFile.h>

#include <string>
#include <vector>

#include "kelvo/imageio/exr_image.h"

// Names quote the file: its bytes stay off the terminal.
std::string Printable(const std::string& text);

// The first 24 names, for a message of one line.
std::string JoinNames(const std::vector<std::string>& names);

bool IsDeep(const Imf::Header& header);

// Why a deep part (`header`) cannot be read.
std::string DeepRefusal(const Imf::Header& header);

// The file's views, the default first: the names of a multiView attribute (single-part
// multi-view files), then the view attributes of parts (multi-part ones), each once.
std::vector<std::string> FileViews(Imf::MultiPartInputFile& file);

// Where the colour comes from: a part and its channel names (alpha empty when absent).
struct ExrColorSource {
    int part = -1;
    std::string red, green, blue, alpha;
};

// The channels of every part, for the message when a named one is not there.
std::string ListChannels(Imf::MultiPartInputFile& file);

// The colour channels `request` asks for in `view`, as ReadExr looks for them (exr_image.h).
int FindColor(Imf::MultiPartInputFile& file, const ExrRequest& request, const std::string& view,
              ExrColorSource& source, std::string& error);

// The part (the preferred one first) and channel that hold `name` for `view`. Deep parts are
// looked at last, and only so that the refusal can name them.
int FindIdChannel(Imf::MultiPartInputFile& file, const std::string& name, const std::string& view,
                  int preferred, std::string& channel);

// 0, with the reason, when channel `name` of `header` is subsampled.
int CheckSampling(const Imf::Header& header, const std::string& name, std::string& error);
