// Where the running program is, and how a user's shell would start it, for hints that name
// commands to type.
#pragma once

#include <string>

// The running program's own file, absolute; empty when the system does not say.
std::string RunningProgramPath();

// The first file named `name` (on Windows `name` plus ".exe") in the directories of the PATH
// environment variable that could be started; empty when there is none.
std::string FindOnPath(const std::string& name);

// `word` as the platform's usual shell (sh, cmd.exe) takes it as one argument: unchanged when
// nothing in it is special there, otherwise quoted.
std::string QuoteForShell(const std::string& word);
