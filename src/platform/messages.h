// The message services: text lookup, messages, questions and formatting.
//
// Callers pass every Chinese message literal through zedaGetText_callbk and
// use its result as the printf format of errorMsg or goonMsg.

#ifndef OVIX_PLATFORM_MESSAGES_H_
#define OVIX_PLATFORM_MESSAGES_H_

#include <cstdarg>
#include <functional>
#include <string>

// gnu_printf: the formats are checked against GNU printf (%zu, %lld) on
// every platform.  MinGW's C++ library formats that way too, where plain
// "printf" would check against the Microsoft one and refuse %zu.
#define OVIX_PRINTF_FORMAT(fmt_index, first_arg) \
  __attribute__((format(gnu_printf, fmt_index, first_arg)))

// Returns the text to use in place of `text`: its translation when a lookup
// is installed, else `text` itself.  Null gives null.  The result stays valid
// until the lookup is replaced.
char const* zedaGetText_callbk(char const* text);

namespace zdcom {

// Replaces the text lookup of zedaGetText_callbk; an empty function restores
// the identity.  The lookup's results must outlive their use.
using TextLookup = std::function<char const*(char const*)>;
void setTextLookup(TextLookup lookup);

// Shows the formatted message through the current presenter; returns when it
// has been dismissed.  A null format shows nothing.
void errorMsg(char const* format, ...) OVIX_PRINTF_FORMAT(1, 2);

// Asks the formatted yes/no question; true when the user chose to go on.
bool goonMsg(char const* format, ...) OVIX_PRINTF_FORMAT(1, 2);

// Sends the formatted note to the current presenter (Presenter::showNote)
// and appends it to the active command log, if any.  A null format or an
// empty note does nothing.
void noteMsg(char const* format, ...) OVIX_PRINTF_FORMAT(1, 2);

// Formats into a buffer of this thread and returns it; the text is valid
// until the next printMsg call on the same thread.
char const* printMsg(char const* format, ...) OVIX_PRINTF_FORMAT(1, 2);

// printf formatting into a std::string of the exact length.
std::string formatV(char const* format, va_list args);
std::string format(char const* format, ...) OVIX_PRINTF_FORMAT(1, 2);

}  // namespace zdcom

#endif  // OVIX_PLATFORM_MESSAGES_H_
