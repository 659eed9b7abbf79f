#include <unistd.h>

#include "platform/console_text.h"

namespace ovix {

bool isTerminal(std::FILE* f) { return f != nullptr && ::isatty(::fileno(f)) == 1; }

bool writeText(std::FILE* f, std::string_view utf8) {
  if (f == nullptr) return false;
  return std::fwrite(utf8.data(), 1, utf8.size(), f) == utf8.size();
}

std::vector<std::string> programArguments(int argc, char** argv) {
  if (argc < 1) return {};
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace ovix
