#include "platform/error_output.h"

#include "platform/messages.h"

namespace zdcom {
namespace {

OVIXCommandErrorOutput*& currentOutput() {
  static OVIXCommandErrorOutput* output = nullptr;
  return output;
}

}  // namespace

OVIXCommandErrorOutput::OVIXCommandErrorOutput() : previous_(currentOutput()) {
  currentOutput() = this;
}

OVIXCommandErrorOutput::~OVIXCommandErrorOutput() {
  if (currentOutput() == this) currentOutput() = previous_;
}

void OVIXCommandErrorOutput::appendMsg(char const* text) {
  if (text != nullptr) recorded_.emplace_back(text);
}

void OVIXCommandErrorOutput::appendLocate(int code, KVData const&, KVData const&) {
  recorded_.push_back(format("locate %d", code));
}

bool OVIXCommandErrorOutput::hasAppend() const { return !recorded_.empty(); }

OVIXCommandErrorOutput* OVIXCommandErrorOutput::current() { return currentOutput(); }

}  // namespace zdcom
