// Environment variables for a test's scope, in both builds.
#pragma once

namespace kestrel_testing {

void setEnvironment(const char* name, const char* value);
void unsetEnvironment(const char* name);

// Sets a variable for one scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) { setEnvironment(name, value); }
  ~ScopedEnvironment() { unsetEnvironment(name_); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
};

}  // namespace kestrel_testing
