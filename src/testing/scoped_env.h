// Sets an environment variable for the life of the object and restores it
// afterwards; a change of TZ takes effect at once.

#ifndef OVIX_TESTING_SCOPED_ENV_H_
#define OVIX_TESTING_SCOPED_ENV_H_

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace ovix::testing {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
    ::tzset();
  }
  ~ScopedEnv() {
    old_ ? (void)::setenv(name_, old_->c_str(), 1) : (void)::unsetenv(name_);
    ::tzset();
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace ovix::testing

#endif  // OVIX_TESTING_SCOPED_ENV_H_
