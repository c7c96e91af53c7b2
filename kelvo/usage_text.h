// The help texts of kelvo and its commands.
#pragma once

extern const char* const KELVO_USAGE;
extern const char* const RENDER_USAGE;
extern const char* const SETTINGS_USAGE;
extern const char* const DEMO_USAGE;
extern const char* const PALETTE_USAGE;
extern const char* const SWAP_USAGE;
extern const char* const CONFIGURE_USAGE;
extern const char* const ABOUT_USAGE;
