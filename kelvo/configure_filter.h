// Gives a filter its settings through LoadConfigBlock and reads them back through SaveConfigBlock.
#pragma once

#include <string>

#include "hostapi/host_api.h"
#include "kelvo/cli_options.h"
#include "kelvo/settings_edit.h"

// Starts from the filter's own block (its defaults) or from `settingsFile` (a block or a text,
// ReadSettingsFile), applies `edits` and loads the result into the filter. `choices`, when
// given, ends as the run's range choices: a settings text's, with the edits' over them; without
// it, a text's range choices are not read and edits the block cannot hold are refused, naming
// what would be lost. `textChoices`, when given, gets what a settings text holds beyond the
// block. On 0, `error` says why and the filter is unchanged. `paletteNote`, when given, gets
// what ApplySettingsEdits says of the palette file.
[[nodiscard]] int ConfigureFilter(ImageFilter& filter, const std::string& settingsFile,
                                  const SettingsEdits& edits, std::string& error,
                                  std::string* paletteNote = nullptr,
                                  RangeChoices* choices = nullptr,
                                  SettingsChoices* textChoices = nullptr);

// The block the filter holds now; 0 when the filter would not give it.
[[nodiscard]] int ReadFilterSettings(ImageFilter& filter, SettingsBlock& block);
