// The filter object's answers to the host: identity, capabilities and the settings block.
#include "plugin/palette_render_filter.h"

#include "plugin/module.h"
#include "plugin/module_strings.h"
#include "ui/about_box.h"
#include "ui/control_dialog.h"
#include "ui/resource.h"

PaletteRenderFilter::PaletteRenderFilter() {
    SetDefaultSettings(settings);
}

PaletteRenderFilter::~PaletteRenderFilter() = default;

void* PaletteRenderFilter::Destroy(unsigned int flags) {
    void* memory = this;
    // This class's own destructor: a derived class destroyed this way overrides Destroy.
    this->PaletteRenderFilter::~PaletteRenderFilter();
    if ((flags & DESTROY_FREE_MEMORY) != 0) {
        ::operator delete(memory);
    }
    return memory;
}

const char* PaletteRenderFilter::DescriptionText() {
    return LoadModuleString(IDS_FILTER_DESCRIPTION);
}
const char* PaletteRenderFilter::AuthorText() {
    return "The Kelvo project";
}
const char* PaletteRenderFilter::CopyrightText() {
    return "Copyright (C) the Kelvo project";
}

unsigned int PaletteRenderFilter::FilterVersion() {
    return FILTER_VERSION;
}
DWORD PaletteRenderFilter::CapabilityMask() {
    return FILTER_CAPABILITIES;
}

// The box loads from the module's own resources, so without the module handle there is none.
int PaletteRenderFilter::ShowAboutBox(HWND parent) {
    HINSTANCE instance = ModuleInstance();
    if (instance == nullptr) {
        return -1;
    }
    return static_cast<int>(DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUT), parent,
                                            AboutDialogProc, reinterpret_cast<LPARAM>(this)));
}

// 1 after OK, 0 after Cancel; the platform's failure result when the dialog cannot be made.
int PaletteRenderFilter::ShowControlDialog(HWND parent) {
    HINSTANCE instance = ModuleInstance();
    if (instance == nullptr) {
        return -1;
    }
    return static_cast<int>(DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_CONTROL_DIALOG), parent,
                                            ControlDialogThunk, reinterpret_cast<LPARAM>(this)));
}

DWORD PaletteRenderFilter::ConfigBlockSize() {
    return SETTINGS_BLOCK_SIZE;
}

int PaletteRenderFilter::LoadConfigBlock(void* block) {
    return LoadSettingsBlock(settings, block);
}

int PaletteRenderFilter::SaveConfigBlock(void* block) {
    return SaveSettingsBlock(settings, block);
}

DWORD PaletteRenderFilter::RequiredChannels() {
    return SourceChannel(settings);
}
