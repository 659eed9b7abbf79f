#include "app/log_viewer.h"

#include "app/text_lines.h"
#include "platform/presenter.h"

namespace ovix {
std::vector<std::string> readTextLines(Env& env, const std::string& path) {
  std::vector<std::string> lines;
  if (!readLinePieces(env, path, &lines)) {
    zdcom::currentPresenter().showMessage("不能读取文件");
    lines.clear();
  }
  return lines;
}

std::string joinLogLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += withoutLineEnd(line);
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
