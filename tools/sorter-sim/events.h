// The JSON lines sorter-sim prints on stdout, one object per event.  Each
// line is written with write(2) as soon as it is complete, so a test reading
// through a pipe sees it while it happens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class JsonLine {
 public:
  explicit JsonLine(const char* event);

  // Received text is untrusted: everything outside printable ASCII is
  // \u-escaped, so the output stays plain ASCII JSON.
  JsonLine& text(const char* key, const std::string& value);
  JsonLine& texts(const char* key, const std::vector<std::string>& values);
  JsonLine& number(const char* key, uint64_t value);
  JsonLine& boolean(const char* key, bool value);
  // Nanoseconds as seconds with six decimals.
  JsonLine& seconds(const char* key, int64_t ns);
  JsonLine& hex(const char* key, const unsigned char* p, size_t n);

  void emit();

 private:
  void key(const char* k);

  std::string line_;
};
