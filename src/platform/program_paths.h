// The two path strings every working-file name is built from.

#ifndef OVIX_PLATFORM_PROGRAM_PATHS_H_
#define OVIX_PLATFORM_PROGRAM_PATHS_H_

#include <optional>
#include <string>

#include "platform/env.h"

namespace ovix {

// The program file's path without a trailing ".exe", or, with a home
// directory, that directory joined with the program's base name.
extern std::string moduleBasePath;
// The directory of moduleBasePath, without trailing separator.
extern std::string programDirectory;

// Fills both strings from the program's path.  `homeDir` (the CLI's --home or
// $OVIX_HOME) replaces the program's directory when given and not empty.
// An empty program path leaves both strings empty.
void fillProgramPaths(const std::string& executablePath,
                      const std::optional<std::string>& homeDir);

// True when files can be created in the directory `dir`: a probe file is
// created there and removed again.
bool canCreateFilesIn(Env& env, const std::string& dir);

// The directory "ovix" below one of the user's base directories: below
// $`variable` when it holds an absolute path, else (on Windows) below
// %LOCALAPPDATA%, else below $HOME/`fallback` (e.g. "XDG_DATA_HOME" and
// ".local/share").  Created with its parents when missing.  Empty when none
// is set or the directory cannot be created.
std::string userDirectory(Env& env, const char* variable, const char* fallback);

// The directory of the working files when no home directory is given: nullopt
// (the program's own directory) when files can be created there, else the
// user's data directory ($XDG_DATA_HOME/ovix, ~/.local/share/ovix), or
// nullopt when there is none either.
std::optional<std::string> defaultHomeDir(Env& env, const std::string& executablePath);

}  // namespace ovix

#endif  // OVIX_PLATFORM_PROGRAM_PATHS_H_
