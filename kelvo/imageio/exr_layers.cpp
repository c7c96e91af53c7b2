// Which views, layers and channels of an OpenEXR file a request reads.
#include "kelvo/imageio/exr_layers.h"

#include <ImfChannelList.h>
#include <ImfPartType.h>
#include <ImfStandardAttributes.h>

#include <algorithm>
#include <set>

namespace {

// A part of another view holds nothing for this one.
bool PartInView(const Imf::Header& header, const std::string& view) {
    return !header.hasView() || header.view() == view;
}

// The channel of `header` that holds `name` (R, diffuse.R, objectIndex) for `view`, or "".
// In a multi-view part the view is the next-to-last part of a channel's name (right.R,
// diffuse.right.R); the default view's channels may leave it out, and so may channels that
// belong to no view (diffuse.R, when diffuse is not a view).
std::string ChannelInView(const Imf::Header& header, const std::string& name,
                          const std::string& view) {
    const auto has = [&header](const std::string& channel) {
        return header.channels().findChannel(channel) != nullptr;
    };
    if (view.empty() || !Imf::hasMultiView(header) || Imf::multiView(header).empty()) {
        return has(name) ? name : "";
    }
    const std::vector<std::string>& views = Imf::multiView(header);
    const size_t dot = name.rfind('.');
    const std::string prefix = dot == std::string::npos ? "" : name.substr(0, dot + 1);
    const std::string inView = prefix + view + "." + name.substr(prefix.size());
    // The layer's last part ("b" of a.b.R) names a view, or the channel is in no view.
    const std::string layer = prefix.empty() ? "" : prefix.substr(0, prefix.size() - 1);
    const std::string penultimate = layer.substr(layer.rfind('.') + 1);  // npos + 1 is 0
    const bool sharedByViews =
        !layer.empty() && std::find(views.begin(), views.end(), penultimate) == views.end();
    if (view == views.front() && has(name)) {
        return name;
    }
    if (has(inView)) {
        return inView;
    }
    return sharedByViews && has(name) ? name : "";
}

// The names of the layers that hold colour (a channel LAYER.R).
std::set<std::string> ColourLayers(Imf::MultiPartInputFile& file) {
    std::set<std::string> layers;
    for (int part = 0; part < file.parts(); ++part) {
        const Imf::Header& header = file.header(part);
        for (auto it = header.channels().begin(); it != header.channels().end(); ++it) {
            const std::string name = it.name();
            if (name.size() > 2 && name.compare(name.size() - 2, 2, ".R") == 0) {
                layers.insert(name.substr(0, name.size() - 2));
            }
        }
    }
    return layers;
}

// The colour layers as a list, for the message when none was chosen or found.
std::string ListLayers(Imf::MultiPartInputFile& file) {
    const std::set<std::string> layers = ColourLayers(file);
    const std::string list = JoinNames({layers.begin(), layers.end()});
    return list.empty() ? "none" : list;
}

}  // namespace

std::string ListChannels(Imf::MultiPartInputFile& file) {
    std::vector<std::string> names;
    for (int part = 0; part < file.parts() && names.size() <= 24; ++part) {
        const Imf::Header& header = file.header(part);
        for (auto it = header.channels().begin(); it != header.channels().end(); ++it) {
            names.push_back(it.name());
        }
    }
    return names.empty() ? "none" : JoinNames(names);
}

std::string Printable(const std::string& text) {
    std::string shown;
    for (char c : text) {
        shown.push_back(c >= ' ' && c <= '~' ? c : '?');
    }
    return shown;
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string list;
    for (size_t i = 0; i < names.size() && i < 24; ++i) {
        list += (list.empty() ? "" : ", ") + Printable(names[i]);
    }
    return names.size() > 24 ? list + ", ..." : list;
}

bool IsDeep(const Imf::Header& header) {
    return header.hasType() &&
           (header.type() == Imf::DEEPSCANLINE || header.type() == Imf::DEEPTILE);
}

std::string DeepRefusal(const Imf::Header& header) {
    return std::string(header.type() == Imf::DEEPTILE ? "a deep tiled" : "a deep scanline") +
           " image: deep images are not supported";
}

std::vector<std::string> FileViews(Imf::MultiPartInputFile& file) {
    std::vector<std::string> views;
    std::set<std::string> seen;  // a file can list any number of views
    const auto add = [&views, &seen](const std::string& view) {
        if (seen.insert(view).second) {
            views.push_back(view);
        }
    };
    for (int part = 0; part < file.parts(); ++part) {
        if (Imf::hasMultiView(file.header(part))) {
            for (const std::string& view : Imf::multiView(file.header(part))) {
                add(view);
            }
        }
    }
    for (int part = 0; part < file.parts(); ++part) {
        if (file.header(part).hasView()) {
            add(file.header(part).view());
        }
    }
    return views;
}

int FindColor(Imf::MultiPartInputFile& file, const ExrRequest& request, const std::string& view,
              ExrColorSource& source, std::string& error) {
    const std::string& layer = request.layer;
    const std::string prefix = layer.empty() ? "" : layer + ".";
    for (int part = 0; part < file.parts() && source.part < 0; ++part) {
        const Imf::Header& header = file.header(part);
        if (IsDeep(header) || !PartInView(header, view)) {
            continue;
        }
        for (const std::string& candidate : {prefix, std::string()}) {
            // A part named after the layer may hold plain R, G, B.
            if (candidate.empty() && !prefix.empty() &&
                !(header.hasName() && header.name() == layer)) {
                continue;
            }
            const std::string red = ChannelInView(header, candidate + "R", view);
            const std::string green = ChannelInView(header, candidate + "G", view);
            const std::string blue = ChannelInView(header, candidate + "B", view);
            if (!red.empty() && !green.empty() && !blue.empty()) {
                source = {part, red, green, blue, ChannelInView(header, candidate + "A", view)};
                break;
            }
        }
    }
    for (int part = 0; part < file.parts() && source.part < 0 && layer.empty(); ++part) {
        const Imf::Header& header = file.header(part);
        const std::string grey = ChannelInView(header, "Y", view);
        if (!IsDeep(header) && PartInView(header, view) && !grey.empty()) {
            if (!ChannelInView(header, "RY", view).empty() ||
                !ChannelInView(header, "BY", view).empty()) {
                error = "a luminance/chroma image (Y, RY, BY): those are not supported";
                return 0;
            }
            source = {part, grey, grey, grey, ChannelInView(header, "A", view)};
        }
    }
    if (source.part >= 0) {
        return 1;
    }
    // A file whose colour is in one layer alone (a renderer's "ViewLayer.Combined") needs no
    // --layer to say which.
    if (layer.empty()) {
        const std::set<std::string> layers = ColourLayers(file);
        ExrRequest named = request;
        named.layer = layers.size() == 1 ? *layers.begin() : "";
        std::string unused;
        if (!named.layer.empty() && FindColor(file, named, view, source, unused)) {
            return 1;
        }
    }
    for (int part = 0; part < file.parts(); ++part) {
        // With or without colour channels, deep data is what kelvo cannot read here.
        if (IsDeep(file.header(part))) {
            error = DeepRefusal(file.header(part));
            return 0;
        }
    }
    error = layer.empty()
                ? "no R, G, B channels; layers with colour: " + ListLayers(file) +
                      " (choose one with --layer)"
                : "no layer '" + Printable(layer) + "'; layers with colour: " + ListLayers(file);
    return 0;
}

int FindIdChannel(Imf::MultiPartInputFile& file, const std::string& name, const std::string& view,
                  int preferred, std::string& channel) {
    for (const bool deep : {false, true}) {
        for (int part = -1; part < file.parts(); ++part) {
            const int candidate = part < 0 ? preferred : part;
            const Imf::Header& header = file.header(candidate);
            if (IsDeep(header) == deep && PartInView(header, view)) {
                channel = ChannelInView(header, name, view);
                if (!channel.empty()) {
                    return candidate;
                }
            }
        }
    }
    return -1;
}

int CheckSampling(const Imf::Header& header, const std::string& name, std::string& error) {
    const Imf::Channel* channel = header.channels().findChannel(name);
    if (channel != nullptr && (channel->xSampling != 1 || channel->ySampling != 1)) {
        error = "channel '" + Printable(name) + "' is subsampled, which is not supported";
        return 0;
    }
    return 1;
}
