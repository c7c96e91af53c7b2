// Where an OpenEXR frame lies: its display or data window, and where stored pixels land in it.
#include "kelvo/imageio/exr_window.h"

#include <ImfFrameBuffer.h>
#include <ImfInputPart.h>

std::string SizeText(int64_t width, int64_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

int PlanFrame(Imf::MultiPartInputFile& file, const ExrRequest& request, ExrFramePlan& plan,
              std::string& error) {
    plan.views = FileViews(file);
    plan.view = request.view.empty() && !plan.views.empty() ? plan.views.front() : request.view;
    if (!request.view.empty() &&
        std::find(plan.views.begin(), plan.views.end(), request.view) == plan.views.end()) {
        error = "no view '" + Printable(request.view) + "'; " +
                (plan.views.empty() ? "the file has no views" : "views: " + JoinNames(plan.views));
        return 0;
    }
    if (!FindColor(file, request, plan.view, plan.color, error)) {
        return 0;
    }
    const Imf::Header& header = file.header(plan.color.part);
    const bool display = request.window == EXR_WINDOW_DISPLAY;
    plan.window = display ? header.displayWindow() : header.dataWindow();
    const int64_t width = int64_t{plan.window.max.x} - plan.window.min.x + 1;
    const int64_t height = int64_t{plan.window.max.y} - plan.window.min.y + 1;
    const char* const which = display ? "display window" : "data window";
    if (width < 1 || height < 1 || width > FRAME_MAX_SIDE || height > FRAME_MAX_SIDE) {
        error = std::string(which) + " of " + SizeText(width, height) +
                " pixels; a frame has 1 to 65535 pixels on each side";
        return 0;
    }
    if (display && width * height > EXR_DISPLAY_MAX_PIXELS) {
        error = std::string(which) + " of " + SizeText(width, height) +
                " pixels; a frame made from one has at most " +
                std::to_string(EXR_DISPLAY_MAX_PIXELS) + " pixels (16384 x 16384)";
        return 0;
    }
    return CheckPixelBudget(width, height, request.maxPixels, error);
}

int ReadRowsInFrame(Imf::MultiPartInputFile& file, int part, const Imath::Box2i& frame,
                    const std::vector<ExrPlane*>& planes,
                    const std::function<int(const Imath::Box2i& strip)>& store) {
    const Imath::Box2i data = file.header(part).dataWindow();
    const int first = std::max(data.min.y, frame.min.y);
    const int last = std::min(data.max.y, frame.max.y);
    if (first > last || data.max.x < frame.min.x || data.min.x > frame.max.x) {
        return 1;
    }
    Imf::InputPart input(file, part);
    const auto width = static_cast<size_t>(int64_t{data.max.x} - data.min.x + 1);
    for (int64_t top = first; top <= last;) {
        // Strips end where the data window's chunks of STRIP_ROWS rows end.
        const int64_t end = std::min<int64_t>(
            last, data.min.y + ((top - data.min.y) / STRIP_ROWS + 1) * STRIP_ROWS - 1);
        const Imath::Box2i strip({data.min.x, static_cast<int>(top)},
                                 {data.max.x, static_cast<int>(end)});
        const size_t count = width * static_cast<size_t>(end - top + 1);
        Imf::FrameBuffer frameBuffer;
        for (ExrPlane* plane : planes) {
            void* base = nullptr;
            if (plane->type == Imf::UINT) {
                plane->uints.assign(count, 0);
                base = plane->uints.data();
            } else if (plane->type == Imf::HALF) {
                plane->halves.assign(count, Imath::half(plane->fill));
                base = plane->halves.data();
            } else {
                plane->floats.assign(count, plane->fill);
                base = plane->floats.data();
            }
            frameBuffer.insert(plane->channel,
                               Imf::Slice::Make(plane->type, base, strip, 0, 0, 1, 1, plane->fill));
        }
        input.setFrameBuffer(frameBuffer);
        input.readPixels(strip.min.y, strip.max.y);
        if (!store(strip)) {
            return 0;
        }
        top = end + 1;
    }
    return 1;
}
