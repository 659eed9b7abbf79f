// A text owned by a record: a heap copy, or null.

#ifndef OVIX_PACKAGE_HEAP_TEXT_H_
#define OVIX_PACKAGE_HEAP_TEXT_H_

#include <cstdlib>
#include <cstring>
#include <utility>

class HeapText {
 public:
  HeapText() = default;
  ~HeapText() { std::free(text_); }
  HeapText(const HeapText& other) { set(other.text_); }
  HeapText& operator=(const HeapText& other) {
    if (this != &other) {
      clear();
      set(other.text_);
    }
    return *this;
  }

  char const* get() const { return text_; }
  bool empty() const { return text_ == nullptr || *text_ == '\0'; }

  // A null text or the stored pointer itself changes nothing; otherwise the
  // old text is freed and a copy stored.
  void set(char const* text) {
    if (text == nullptr || text == text_) return;
    size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    std::memcpy(copy, text, n);
    std::free(text_);
    text_ = copy;
  }
  // Takes a heap text (malloc) as it stands.
  void adopt(char* text) {
    std::free(text_);
    text_ = text;
  }
  void clear() { adopt(nullptr); }

 private:
  char* text_ = nullptr;
};

#endif  // OVIX_PACKAGE_HEAP_TEXT_H_
