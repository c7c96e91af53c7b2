// The class descriptor's answers: names, identifiers and the creation of filter objects.
#include "plugin/class_desc.h"

#include <new>

#include "plugin/module_strings.h"
#include "plugin/palette_render_filter.h"
#include "ui/resource.h"

namespace {

// Static, so its table of operations is in place before the host can ask for it.
PaletteRenderClassDesc classDesc;

}  // namespace

PaletteRenderClassDesc& TheClassDesc() {
    return classDesc;
}

int PaletteRenderClassDesc::IsPublic() {
    return 1;
}

// The host calls in through a plain pointer: nothing may be thrown back at it.
ImageFilter* PaletteRenderClassDesc::CreateFilter(int) {
    try {
        return new (std::nothrow) PaletteRenderFilter();
    } catch (...) {
        return nullptr;
    }
}

int PaletteRenderClassDesc::BeginCreate(void*) {
    return 0;
}
int PaletteRenderClassDesc::EndCreate(void*) {
    return 0;
}
const char* PaletteRenderClassDesc::ClassNameText() {
    return LoadModuleString(IDS_CLASS_NAME);
}
ULONG PaletteRenderClassDesc::SuperClassIdentifier() {
    return IMAGE_FILTER_CLASS_ID;
}

ClassIdentifierRecord* PaletteRenderClassDesc::ClassIdentifier(ClassIdentifierRecord* result) {
    if (result == nullptr) {
        return nullptr;
    }
    result->partA = FILTER_CLASS_ID_A;
    result->partB = FILTER_CLASS_ID_B;
    return result;
}

const char* PaletteRenderClassDesc::CategoryText() {
    return LoadModuleString(IDS_CATEGORY);
}
int PaletteRenderClassDesc::OkToCreate(void*) {
    return 1;
}
int PaletteRenderClassDesc::HasClassParameters() {
    return 0;
}
void PaletteRenderClassDesc::EditClassParameters(HWND) {}
void PaletteRenderClassDesc::ResetClassParameters(int) {}
int PaletteRenderClassDesc::ActionTableCount() {
    return 0;
}
void* PaletteRenderClassDesc::ActionTable(int) {
    return nullptr;
}
void* PaletteRenderClassDesc::Extension(int) {
    return nullptr;
}
