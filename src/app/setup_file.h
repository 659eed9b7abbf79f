// The installation's setup file "ovixsetup.ini", section "OVIX".

#ifndef OVIX_APP_SETUP_FILE_H_
#define OVIX_APP_SETUP_FILE_H_

#include <string>

#include "app/ini_file.h"
#include "platform/env.h"

namespace ovix {

inline constexpr char kSetupFileName[] = "ovixsetup.ini";
inline constexpr char kSetupSection[] = "OVIX";

// DIRECTORY/ovixsetup.ini
std::string setupFilePath(const std::string& directory);

// Fills a package header from the setup file of `directory`: "NAME",
// "VERSION", "KERNELTIME" and "BUILDTIME" into the header's name, version,
// kernel date and version date, in this order.  Stops at the first missing
// key and returns false; the fields set before it keep their new values.
// Header needs setName, setVer, setKernalTime and setVerTime taking
// char const*.
template <typename Header>
bool readSetupFile(Env& env, const std::string& directory, Header& header) {
  IniFile ini;
  ini.load(env, setupFilePath(directory));
  using Setter = void (Header::*)(char const*);
  static constexpr struct {
    char const* key;
    Setter set;
  } kFields[] = {{"NAME", &Header::setName},
                 {"VERSION", &Header::setVer},
                 {"KERNELTIME", &Header::setKernalTime},
                 {"BUILDTIME", &Header::setVerTime}};
  for (const auto& field : kFields) {
    char const* value = ini.getValue(kSetupSection, field.key);
    if (value == nullptr) return false;
    (header.*field.set)(value);
  }
  return true;
}

// The installed patch's date from a "PATCH" key: the text from its fourth
// character on; "" when the key is shorter than four characters or null.
std::string installedPatchDate(char const* patchKey);

}  // namespace ovix

#endif  // OVIX_APP_SETUP_FILE_H_
