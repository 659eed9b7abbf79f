// INI files: section and key names compared without regard to letter case,
// single keys, single-line values, written back without blanks around "=".
//
// Values are UTF-8 to the program whatever the file's encoding.  A file that
// is valid UTF-8 is read as UTF-8 (a leading byte-order mark is dropped from
// the text); any other file is read as code page 936 (GBK), the encoding the
// suite's own Windows tools write.  A short GBK text can happen to be valid
// UTF-8 as well, and is then taken as UTF-8.  Saving writes the encoding the
// file was read in, with its byte-order mark and its line ends ("\r\n" or
// "\n"); a new file is UTF-8 without a mark and with the system's line ends.

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
  // Parses `data` as the contents of an INI file.  Data that is neither
  // UTF-8 nor code page 936 reads as empty and gives false, the reason in
  // Env::lastError(); such contents are never written back (see text()).
  bool loadData(const std::string& data);

  // The value in UTF-8, or null when the section or key is missing.  Valid
  // until the next change of this object.
  char const* getValue(char const* section, char const* key) const;
  // Sets the value, given in UTF-8, replacing an existing one; null
  // arguments change nothing.
  void setValue(char const* section, char const* key, char const* value);

  // The whole file as its bytes in the file's encoding.  False, with the
  // reason in Env::lastError(), when a text cannot be written in that
  // encoding (a character GBK lacks in a code page 936 file) or the loaded
  // data was in no encoding known here.
  bool text(std::string* out) const;
  // Writes the file atomically (temporary file, sync, rename).  False, with
  // the reason in Env::lastError(), when text() fails (the file is then not
  // touched) or the file cannot be written.
  bool save(Env& env, const std::string& path) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ovix

#endif  // OVIX_APP_INI_FILE_H_
