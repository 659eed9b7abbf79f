#include "app/log_viewer.h"

#include "platform/presenter.h"

namespace ovix {
namespace {

constexpr size_t kPieceLength = 1023;

}  // namespace

std::vector<std::string> readTextLines(Env& env, const std::string& path) {
  std::vector<std::string> lines;
  std::unique_ptr<SequentialFile> file;
  if (!env.newSequentialFile(path, &file)) {
    zdcom::currentPresenter().showMessage("不能读取文件");
    return lines;
  }
  std::string piece;
  char buf[16 * 1024];
  for (;;) {
    size_t got = 0;
    if (!file->read(buf, sizeof buf, &got) || got == 0) break;
    for (size_t i = 0; i < got; ++i) {
      piece += buf[i];
      if (buf[i] == '\n' || piece.size() == kPieceLength) {
        lines.push_back(std::move(piece));
        piece.clear();
      }
    }
  }
  if (!piece.empty()) lines.push_back(std::move(piece));
  return lines;
}

std::string joinLogLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    size_t end = line.size();
    if (end > 0 && line[end - 1] == '\n') --end;
    if (end > 0 && line[end - 1] == '\r') --end;
    text.append(line, 0, end);
    text += "\r\n";
  }
  return text;
}

bool showLogFileInViewer(Env& env, char const* path) {
  std::string text = joinLogLines(readTextLines(env, path != nullptr ? path : ""));
  zdcom::currentPresenter().showText(kLogViewerTitle, text);
  return true;
}

void runCommand(Env& env, const std::string& commandLine) {
  env.spawnDetached(commandLine);
}

}  // namespace ovix

bool ovix_print_logfile::showLogFile(char const* path) {
  return ovix::showLogFileInViewer(*env_, path);
}
