#include "launcher/bounded_format.h"

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

bool JoinPath(char* destination, size_t capacity, const char* folder, const char* name) {
  BoundedWriter writer(destination, capacity);
  writer.PutText(folder);
  writer.Put('\\');
  writer.PutText(name);
  return writer.Finish();
}

bool NarrowText(char* destination, size_t capacity, const wchar_t* text) {
  BoundedWriter writer(destination, capacity);
  writer.PutNarrowed(text);
  return writer.Finish();
}
