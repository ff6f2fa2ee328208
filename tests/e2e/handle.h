// A Windows handle closed when it goes out of scope.
#ifndef KAVREL_TESTS_E2E_HANDLE_H_
#define KAVREL_TESTS_E2E_HANDLE_H_

#include <windows.h>

class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  ~Handle() { reset(nullptr); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE handle) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_;
};

#endif  // KAVREL_TESTS_E2E_HANDLE_H_
