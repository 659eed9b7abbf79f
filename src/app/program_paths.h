// The two path strings every working-file name is built from.

#ifndef OVIX_APP_PROGRAM_PATHS_H_
#define OVIX_APP_PROGRAM_PATHS_H_

#include <optional>
#include <string>

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

}  // namespace ovix

#endif  // OVIX_APP_PROGRAM_PATHS_H_
