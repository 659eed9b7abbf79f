// INI files: 8-bit texts, section and key names compared without regard to
// letter case, single keys, single-line values, written back without a
// byte-order mark and without blanks around "=".

#ifndef OVIX_APP_INI_FILE_H_
#define OVIX_APP_INI_FILE_H_

#include <memory>
#include <string>

#include "platform/env.h"


namespace ovix {

class IniFile {
 public:
  IniFile();
  ~IniFile();
  IniFile(IniFile&&) noexcept;
  IniFile& operator=(IniFile&&) noexcept;

  // Replaces the contents with those of `path`.  A missing or unreadable
  // file reads as empty; the result says whether the file was read.
  bool load(Env& env, const std::string& path);
  // Parses `data` as the contents of an INI file.
  bool loadData(const std::string& data);

  // The value, or null when the section or key is missing.  Valid until the
  // next change of this object.
  char const* getValue(char const* section, char const* key) const;
  // Sets the value, replacing an existing one; null arguments change nothing.
  void setValue(char const* section, char const* key, char const* value);

  // The whole file as text.
  std::string text() const;
  // Writes the file atomically (temporary file, sync, rename).
  bool save(Env& env, const std::string& path) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ovix

#endif  // OVIX_APP_INI_FILE_H_
