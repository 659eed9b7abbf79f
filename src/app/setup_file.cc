#include "app/setup_file.h"

#include <cstring>

namespace ovix {

std::string setupFilePath(const std::string& directory) {
  return directory + "/" + kSetupFileName;
}

std::string installedPatchDate(char const* patchKey) {
  if (patchKey == nullptr || std::strlen(patchKey) < 4) return {};
  return patchKey + 3;
}

}  // namespace ovix
