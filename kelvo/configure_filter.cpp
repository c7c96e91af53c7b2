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
                    RangeChoices* choices, SettingsChoices* textChoices) {
    SettingsBlock block{};
    if (!ReadFilterSettings(filter, block)) {
        error = "the filter did not give its settings block";
        return 0;
    }
    SettingsChoices text;
    if (!settingsFile.empty() && !ReadSettingsFile(settingsFile, block, error, &text)) {
        return 0;
    }
    // The command line's --range and --reserve over the text's.
    RangeChoices edited = choices != nullptr ? text.ranges : RangeChoices{};
    if (!ApplySettingsEdits(edits, block, edited, error, paletteNote)) {
        return 0;
    }
    if (choices == nullptr && !edited.Plain()) {
        error = "a settings block cannot hold " + DescribeBeyondBlock(edited);
        return 0;
    }
    if (!filter.LoadConfigBlock(block.data())) {
        error = "'" + settingsFile + "' is not a settings block: its tag is " +
                std::to_string(SettingsBlockTag(block)) + ", not " +
                std::to_string(SETTINGS_VERSION);
        return 0;
    }
    if (choices != nullptr) {
        *choices = edited;
    }
    if (textChoices != nullptr) {
        *textChoices = std::move(text);
    }
    return 1;
}
