#include "app/ini_file.h"

#include <string_view>

#include "platform/messages.h"
#include "platform/text_encoding.h"

#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

namespace ovix {
namespace {

enum class Encoding { kUtf8, kCp936, kUnknown };

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
#ifdef _WIN32
constexpr bool kSystemUsesCrLf = true;
#else
constexpr bool kSystemUsesCrLf = false;
#endif

// SimpleIni writes the system's line ends; a file keeps its own.  Values
// are single lines, so every line end in `text` is one SimpleIni wrote.
std::string withLineEnds(const std::string& text, bool crlf) {
  std::string out;
  out.reserve(text.size() + (crlf ? text.size() / 16 : 0));
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n' && crlf) out += '\r';
    out += text[i];
  }
  return out;
}

// The first line of `utf8` that code page 936 cannot hold, to name in a
// message; the whole text when no single line is to blame.
std::string_view firstLineWithoutCp936(std::string_view utf8) {
  std::string converted;
  size_t start = 0;
  while (start < utf8.size()) {
    size_t end = utf8.find('\n', start);
    if (end == std::string_view::npos) end = utf8.size();
    std::string_view line = utf8.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!utf8ToCp936(line, &converted)) return line;
    start = end + 1;
  }
  return utf8;
}

}  // namespace

struct IniFile::Impl {
  // No multiple keys, no multi-line values; the texts are UTF-8 here, the
  // conversion from and to the file's encoding is done around SimpleIni.
  CSimpleIniA ini{false, false, false};
  Encoding encoding = Encoding::kUtf8;
  bool byteOrderMark = false;
  bool crlf = kSystemUsesCrLf;

  Impl() { ini.SetSpaces(false); }

  void reset() {
    ini.Reset();
    encoding = Encoding::kUtf8;
    byteOrderMark = false;
    crlf = kSystemUsesCrLf;
  }
};

IniFile::IniFile() : impl_(std::make_unique<Impl>()) {}
IniFile::~IniFile() = default;
IniFile::IniFile(IniFile&&) noexcept = default;
IniFile& IniFile::operator=(IniFile&&) noexcept = default;

bool IniFile::load(Env& env, const std::string& path) {
  impl_->reset();
  std::string data;
  if (!readFileToString(env, path, &data)) return false;
  if (loadData(data)) return true;
  setLastError(path + "：" + Env::lastError());
  return false;
}

bool IniFile::loadData(const std::string& data) {
  impl_->reset();
  std::string_view bytes = data;
  const size_t firstLineEnd = bytes.find('\n');
  if (firstLineEnd != std::string_view::npos)
    impl_->crlf = firstLineEnd > 0 && bytes[firstLineEnd - 1] == '\r';
  if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    impl_->byteOrderMark = true;
    bytes.remove_prefix(kByteOrderMark.size());
  }
  std::string converted;
  if (!isValidUtf8(bytes)) {
    if (impl_->byteOrderMark || !cp936ToUtf8(bytes, &converted)) {
      impl_->encoding = Encoding::kUnknown;
      setLastError(zedaGetText_callbk("文件既不是UTF-8编码也不是GBK（代码页936）编码"));
      return false;
    }
    impl_->encoding = Encoding::kCp936;
    bytes = converted;
  }
  return impl_->ini.LoadData(bytes.data(), bytes.size()) >= 0;
}

char const* IniFile::getValue(char const* section, char const* key) const {
  if (section == nullptr || key == nullptr) return nullptr;
  return impl_->ini.GetValue(section, key, nullptr);
}

void IniFile::setValue(char const* section, char const* key, char const* value) {
  if (section == nullptr || key == nullptr || value == nullptr) return;
  impl_->ini.SetValue(section, key, value);
}

bool IniFile::text(std::string* out) const {
  out->clear();
  if (impl_->encoding == Encoding::kUnknown) {
    setLastError(zedaGetText_callbk("文件既不是UTF-8编码也不是GBK（代码页936）编码，不能改写"));
    return false;
  }
  std::string utf8;
  impl_->ini.Save(utf8, false);
  utf8 = withLineEnds(utf8, impl_->crlf);
  if (impl_->encoding == Encoding::kCp936) {
    if (!utf8ToCp936(utf8, out)) {
      setLastError(zdcom::format(
          zedaGetText_callbk("文件是GBK（代码页936）编码的，GBK没有这一行中的某些字符：%s"),
          std::string(firstLineWithoutCp936(utf8)).c_str()));
      out->clear();
      return false;
    }
    return true;
  }
  if (impl_->byteOrderMark) out->append(kByteOrderMark);
  out->append(utf8);
  return true;
}

bool IniFile::save(Env& env, const std::string& path) const {
  std::string contents;
  if (!text(&contents)) {
    setLastError(path + "：" + Env::lastError());
    return false;
  }
  return writeFileAtomically(env, path, contents);
}

}  // namespace ovix
