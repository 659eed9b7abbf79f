// The projects of a server's general database, and the project information
// file that names one of them for a project package.

#ifndef OVIX_PROJECT_PROJECT_INFO_H_
#define OVIX_PROJECT_PROJECT_INFO_H_

#include <string>
#include <vector>

#include "platform/env.h"

namespace ovix {

// Appends the names of the server's projects, in row order, to *names and
// returns true; false, with *names untouched, when the address or port is
// empty, the general database cannot be opened or lists no project.  Rows
// without a name are left out.  On failure *error (when given) says why.
bool listProjects(char const* address, char const* port, std::vector<std::string>* names,
                  std::string* error = nullptr);

// Looks the project `name` up in the general database (the name is bound,
// never spliced into the statement).  True with *guid and *lineTemp set
// (empty for a missing value); false, with both untouched, when the name is
// null or empty, the database cannot be opened or has no such project;
// *error (when given) then says why.
bool getProjectInfo(char const* address, char const* port, char const* name, std::string* guid,
                    std::string* lineTemp, std::string* error = nullptr);

}  // namespace ovix

#endif  // OVIX_PROJECT_PROJECT_INFO_H_
