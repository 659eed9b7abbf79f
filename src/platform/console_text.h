// Text for the user on the standard streams, and the program's arguments,
// both in UTF-8 whatever the system's own code page.
//
// On Linux both are plain pass-throughs.  On Windows a console is written
// in UTF-16, so Chinese shows whatever code page the console has; anything
// else (a file, a pipe) gets the UTF-8 bytes unchanged, '\n' included: the
// stream is switched to binary mode, so no '\r' is added, and a redirected
// log or a pipeline reads the same bytes on every platform.

#ifndef OVIX_PLATFORM_CONSOLE_TEXT_H_
#define OVIX_PLATFORM_CONSOLE_TEXT_H_

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace ovix {

// True when `f` is an interactive terminal (on Windows: a console).  False
// for null, files, pipes and devices such as /dev/null or NUL.
bool isTerminal(std::FILE* f);

// Writes the UTF-8 text `utf8` to `f`, after what is buffered in `f`
// already.  As with fwrite the text may stay in the stream's buffer until
// it is flushed (a Windows console is written at once).  False when not
// all of it could be written.
bool writeText(std::FILE* f, std::string_view utf8);

// The command-line arguments after the program name, in UTF-8.  On Windows
// they are read again from the process's UTF-16 command line, as argv holds
// them in the ANSI code page, where other characters are lost; argv is the
// fallback should that fail.
std::vector<std::string> programArguments(int argc, char** argv);

}  // namespace ovix

#endif  // OVIX_PLATFORM_CONSOLE_TEXT_H_
