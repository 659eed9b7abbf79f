// What a package may name: the rules for a file record's key (the file's
// path relative to the installation), its CRC text and the package key.
//
// One set of rules serves the pack, the upload and the download, so that a
// package that any workstation would refuse is refused where it is made.
// The rules are those of the suite's home platform, where every key ends up
// as a file name, whatever platform checks it.

#ifndef OVIX_PACKAGE_FILE_KEY_H_
#define OVIX_PACKAGE_FILE_KEY_H_

#include <string>
#include <string_view>

namespace ovix {

// Why a file key cannot be used.
enum class KeyFault {
  kNone,
  kEmpty,             // no key, or an empty one
  kOutside,           // absolute, a drive or UNC prefix, ':', or an empty,
                      // "." or ".." component: it would leave the folder
  kControlCharacter,  // NUL, newline, escape and the other control codes
  kInvalidUtf8,       // bytes that are not UTF-8 text
  kReservedName,      // a character or name the home platform cannot store
                      // (<>"|?*, device names such as NUL, a trailing dot
                      // or blank)
  kNameTooLong,       // a component longer than a file system allows
};

// The longest component a key may have, in bytes.
inline constexpr size_t kMaxKeyComponentBytes = 255;

// The first fault of `key`, kNone when it is a usable relative path.
// Components are separated by '\' or '/'.
KeyFault checkFileKey(std::string_view key);

// True when checkFileKey finds no fault.
bool isSafePackageKey(std::string_view key);

// A short Chinese text saying what is wrong, for the messages of the jobs
// ("不在安装目录之内", ...).  Empty for kNone.
const char* keyFaultText(KeyFault fault);

// `key` fit to show in a message or a log line: control codes and bytes
// that are not UTF-8 are written as \xNN.
std::string printableKey(std::string_view key);

// True when `text` is one line of text: UTF-8 without control codes, so it
// can stand as a value in a setup file without starting a line of its own.
bool isSingleLineText(std::string_view text);

// True when `crc` is a CRC text: exactly 8 hexadecimal digits, in either
// letter case.
bool isCrcText(std::string_view crc);

// True when two CRC texts name the same value (letter case aside).
bool sameCrc(std::string_view a, std::string_view b);

// True when `key` has the form of a package key: three code characters and
// the pack time as "%Y%m%d%H%M", all of them [A-Z0-9].
bool isPackageKeyText(std::string_view key);

}  // namespace ovix

#endif  // OVIX_PACKAGE_FILE_KEY_H_
