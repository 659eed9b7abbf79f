#include "app/text_lines.h"

namespace ovix {

bool readLinePieces(Env& env, const std::string& path, std::vector<std::string>* pieces) {
  std::unique_ptr<SequentialFile> file;
  if (path.empty() || !env.newSequentialFile(path, &file)) return false;
  std::string piece;
  char buf[16 * 1024];
  for (;;) {
    size_t got = 0;
    if (!file->read(buf, sizeof buf, &got)) return false;
    if (got == 0) break;
    for (size_t i = 0; i < got; ++i) {
      piece += buf[i];
      if (buf[i] == '\n' || piece.size() == kLinePieceBytes) {
        pieces->push_back(std::move(piece));
        piece.clear();
      }
    }
  }
  if (!piece.empty()) pieces->push_back(std::move(piece));
  return true;
}

std::string withoutLineEnd(const std::string& piece) {
  size_t end = piece.size();
  if (end > 0 && piece[end - 1] == '\n') --end;
  if (end > 0 && piece[end - 1] == '\r') --end;
  return piece.substr(0, end);
}

std::string trimText(const std::string& text, const char* blanks) {
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace ovix
