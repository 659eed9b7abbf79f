// The error output of the message and database services: an object the
// program creates once, which the services report to.

#ifndef OVIX_PLATFORM_ERROR_OUTPUT_H_
#define OVIX_PLATFORM_ERROR_OUTPUT_H_

#include <string>
#include <vector>

class KVData;

namespace zdcom {

class OVIXCommandErrorOutput {
 public:
  // Makes this object the services' error output until it is destroyed.
  OVIXCommandErrorOutput();
  virtual ~OVIXCommandErrorOutput();
  OVIXCommandErrorOutput(const OVIXCommandErrorOutput&) = delete;
  OVIXCommandErrorOutput& operator=(const OVIXCommandErrorOutput&) = delete;

  // Records a message of the services.
  virtual void appendMsg(char const* text);
  // Records where in a database a problem was found: a code and two values.
  virtual void appendLocate(int code, KVData const& first, KVData const& second);
  // True once anything has been recorded.
  virtual bool hasAppend() const;

  virtual int setStatus(int value) = 0;
  virtual int getStatus() = 0;
  virtual void resetStatus() = 0;
  virtual bool queryFlag() const = 0;
  virtual bool showLogFile(char const* path) = 0;

  const std::vector<std::string>& recorded() const { return recorded_; }

  // The error output in force, or null.
  static OVIXCommandErrorOutput* current();

 private:
  std::vector<std::string> recorded_;
  OVIXCommandErrorOutput* previous_;
};

}  // namespace zdcom

#endif  // OVIX_PLATFORM_ERROR_OUTPUT_H_
