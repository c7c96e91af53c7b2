// The filter object's answers to the host: identity, capabilities and the settings block.
#include "plugin/palette_render_filter.h"

PaletteRenderFilter::PaletteRenderFilter() { SetDefaultSettings(settings); }

PaletteRenderFilter::~PaletteRenderFilter() = default;

// TODO(#3): texts from the module's string table.
const char* PaletteRenderFilter::DescriptionText() { return nullptr; }
const char* PaletteRenderFilter::AuthorText() { return "The Kelvo project"; }
const char* PaletteRenderFilter::CopyrightText() { return "Copyright (c) the Kelvo project"; }

unsigned int PaletteRenderFilter::FilterVersion() { return FILTER_VERSION; }
DWORD PaletteRenderFilter::CapabilityMask() { return FILTER_CAPABILITIES; }

// TODO(#3): the About box; TODO(#4): the control dialog.
int PaletteRenderFilter::ShowAboutBox(HWND) { return -1; }
int PaletteRenderFilter::ShowControlDialog(HWND) { return -1; }

DWORD PaletteRenderFilter::ConfigBlockSize() { return SETTINGS_BLOCK_SIZE; }

int PaletteRenderFilter::LoadConfigBlock(void* block) { return LoadSettingsBlock(settings, block); }

int PaletteRenderFilter::SaveConfigBlock(void* block) { return SaveSettingsBlock(settings, block); }

DWORD PaletteRenderFilter::RequiredChannels() { return SourceChannel(settings); }
