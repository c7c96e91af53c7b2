// The commands of kelvo; each takes the arguments after its name and returns the exit code.
#pragma once

#include <string>
#include <vector>

// `pluginPath` is the plug-in module to load; empty means Kelvo.flt beside the program.
[[nodiscard]] int RunRenderCommand(const std::vector<std::string>& args,
                                   const std::string& pluginPath);
[[nodiscard]] int RunSettingsCommand(const std::vector<std::string>& args,
                                     const std::string& pluginPath);
[[nodiscard]] int RunPaletteCommand(const std::vector<std::string>& args);
[[nodiscard]] int RunDemoCommand(const std::vector<std::string>& args,
                                 const std::string& pluginPath);
// Indexed frames with their indices moved or their palette replaced (swap_command.cpp).
[[nodiscard]] int RunSwapCommand(const std::vector<std::string>& args);
