#include "launcher/bounded_format.h"

#include <stdarg.h>
#include <wchar.h>

namespace {

// Appends bytes to a fixed buffer, remembering whether any did not fit.
class BoundedWriter {
 public:
  BoundedWriter(char* destination, size_t capacity)
      : destination_(destination), capacity_(capacity) {}

  void Put(char c) {
    // One byte always stays free for the terminating NUL.
    if (length_ + 1 < capacity_) {
      destination_[length_++] = c;
    } else {
      overflowed_ = true;
    }
  }

  void PutText(const char* text) {
    for (; *text != '\0' && !overflowed_; ++text) Put(*text);
  }

  void PutNarrowed(const wchar_t* text) {
    for (const wchar_t* unit = text; *unit != L'\0'; ++unit) {
      if (static_cast<unsigned long>(*unit) > 0xFF) return;
    }
    for (; *text != L'\0' && !overflowed_; ++text) {
      Put(static_cast<char>(static_cast<unsigned char>(*text)));
    }
  }

  bool Finish() {
    destination_[overflowed_ ? 0 : length_] = '\0';
    return !overflowed_;
  }

 private:
  char* destination_;
  size_t capacity_;
  size_t length_ = 0;
  bool overflowed_ = false;
};

}  // namespace

bool FormatBounded(char* destination, size_t capacity, const char* format, ...) {
  BoundedWriter writer(destination, capacity);
  va_list arguments;
  va_start(arguments, format);
  for (const char* f = format; *f != '\0'; ++f) {
    if (f[0] == '%' && f[1] == 's') {
      writer.PutText(va_arg(arguments, const char*));
      f += 1;
    } else if (f[0] == '%' && f[1] == 'w' && f[2] == 's') {
      writer.PutNarrowed(va_arg(arguments, const wchar_t*));
      f += 2;
    } else if (f[0] == '%' && f[1] == '%') {
      writer.Put('%');
      f += 1;
    } else {
      writer.Put(*f);
    }
  }
  va_end(arguments);
  return writer.Finish();
}
