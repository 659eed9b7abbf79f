// Reading a text file line by line the way a fixed 1024-byte line buffer
// does: a line longer than 1023 bytes comes out in several pieces.

#ifndef OVIX_APP_TEXT_LINES_H_
#define OVIX_APP_TEXT_LINES_H_

#include <string>
#include <vector>

#include "platform/env.h"

namespace ovix {

inline constexpr size_t kLinePieceBytes = 1023;

// Appends to *pieces each line of the file with its line feed, or each
// piece of kLinePieceBytes of a longer line (a last line without line feed
// included).  False when the file cannot be opened or read.
bool readLinePieces(Env& env, const std::string& path, std::vector<std::string>* pieces);

// `piece` without its line terminator ("\n" or "\r\n").
std::string withoutLineEnd(const std::string& piece);

// `text` without the characters of `blanks` at either end.
std::string trimText(const std::string& text, const char* blanks);

}  // namespace ovix

#endif  // OVIX_APP_TEXT_LINES_H_
