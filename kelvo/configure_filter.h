// Gives a filter its settings through LoadConfigBlock and reads them back through SaveConfigBlock.
#pragma once

#include <string>

#include "hostapi/host_api.h"
#include "kelvo/cli_options.h"
#include "kelvo/settings_edit.h"

// Starts from the filter's own block (its defaults) or from `settingsFile` (a block or a text,
// ReadSettingsFile), applies `edits` and loads the result into the filter. On 0, `error` says
// why and the filter is unchanged. `paletteNote`, when given, gets what ApplySettingsEdits says
// of the palette file; `choices`, when given, what a settings text holds beyond the block.
[[nodiscard]] int ConfigureFilter(ImageFilter& filter, const std::string& settingsFile,
                                  const SettingsEdits& edits, std::string& error,
                                  std::string* paletteNote = nullptr,
                                  SettingsChoices* choices = nullptr);

// The block the filter holds now; 0 when the filter would not give it.
[[nodiscard]] int ReadFilterSettings(ImageFilter& filter, SettingsBlock& block);
