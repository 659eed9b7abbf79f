// Sets an environment variable for the life of the object and restores it
// afterwards; a change of TZ takes effect at once.

#ifndef OVIX_TESTING_SCOPED_ENV_H_
#define OVIX_TESTING_SCOPED_ENV_H_

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace ovix::testing {

// Sets (or, for null, removes) an environment variable of this process and
// of the programs it starts; the time zone follows TZ at once.
inline void setEnvVar(const char* name, const char* value) {
#ifdef _WIN32
  // The C library's copy and the process environment, both; "" removes.
  ::_putenv_s(name, value ? value : "");
  ::_tzset();
#else
  value ? (void)::setenv(name, value, 1) : (void)::unsetenv(name);
  ::tzset();
#endif
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setEnvVar(name, value.c_str());
  }
  ~ScopedEnv() { setEnvVar(name_, old_ ? old_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace ovix::testing

#endif  // OVIX_TESTING_SCOPED_ENV_H_
