// kelvo's dialog commands: edit a stored settings block in the control dialog, show the About
// box. Both need the Windows build; each returns kelvo's exit code.
#pragma once

#include <string>
#include <vector>

// `pluginPath` is the plug-in module to load; empty means Kelvo.flt beside the program.
//
// configure FILE: opens the control dialog on the block stored in FILE (the defaults when FILE
// does not exist) and, after OK, writes the block back in one step; after Cancel FILE stays
// as it was. 0 after OK or Cancel; 1 when the dialog or the file could not be made; 2 for bad
// arguments, a FILE that holds no settings block, a plug-in module that cannot be loaded, or
// a build without Windows.
[[nodiscard]] int RunConfigureCommand(const std::vector<std::string>& args,
                                      const std::string& pluginPath);

// about: shows the plug-in's About box. 0 once it is closed; 1 or 2 as above.
[[nodiscard]] int RunAboutCommand(const std::vector<std::string>& args,
                                  const std::string& pluginPath);
