// Gives a filter its settings through LoadConfigBlock and reads them back through SaveConfigBlock.
#include "kelvo/configure_filter.h"

int ReadFilterSettings(ImageFilter& filter, SettingsBlock& block) {
    if (filter.ConfigBlockSize() != block.size()) {
        return 0;
    }
    return filter.SaveConfigBlock(block.data());
}

int ConfigureFilter(ImageFilter& filter, const std::string& settingsFile,
                    const SettingsEdits& edits, std::string& error, std::string* paletteNote,
                    SettingsChoices* choices) {
    SettingsBlock block{};
    if (!ReadFilterSettings(filter, block)) {
        error = "the filter did not give its settings block";
        return 0;
    }
    if (!settingsFile.empty() && !ReadSettingsFile(settingsFile, block, error, choices)) {
        return 0;
    }
    if (!ApplySettingsEdits(edits, block, error, paletteNote)) {
        return 0;
    }
    if (!filter.LoadConfigBlock(block.data())) {
        error = "'" + settingsFile + "' is not a settings block: its tag is " +
                std::to_string(SettingsBlockTag(block)) + ", not " +
                std::to_string(SETTINGS_VERSION);
        return 0;
    }
    return 1;
}
