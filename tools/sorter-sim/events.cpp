#include "events.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

const char kHexDigits[] = "0123456789abcdef";

void quoted(std::string& out, const std::string& s) {
  out += '"';
  for (unsigned char c : s) {
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c >= 0x7f) {
      out += "\\u00";
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 15];
    } else {
      out += char(c);
    }
  }
  out += '"';
}

}  // namespace

JsonLine::JsonLine(const char* event) {
  line_ = "{\"event\":";
  quoted(line_, event);
}

void JsonLine::key(const char* k) {
  line_ += ',';
  quoted(line_, k);
  line_ += ':';
}

JsonLine& JsonLine::text(const char* k, const std::string& value) {
  key(k);
  quoted(line_, value);
  return *this;
}

JsonLine& JsonLine::texts(const char* k, const std::vector<std::string>& values) {
  key(k);
  line_ += '[';
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) line_ += ',';
    quoted(line_, values[i]);
  }
  line_ += ']';
  return *this;
}

JsonLine& JsonLine::number(const char* k, uint64_t value) {
  key(k);
  line_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::boolean(const char* k, bool value) {
  key(k);
  line_ += value ? "true" : "false";
  return *this;
}

JsonLine& JsonLine::seconds(const char* k, int64_t ns) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%lld.%06lld",
                static_cast<long long>(ns / 1000000000),
                static_cast<long long>((ns % 1000000000) / 1000));
  key(k);
  line_ += buf;
  return *this;
}

JsonLine& JsonLine::hex(const char* k, const unsigned char* p, size_t n) {
  key(k);
  line_.reserve(line_.size() + 2 * n + 4);
  line_ += '"';
  for (size_t i = 0; i < n; ++i) {
    line_ += kHexDigits[p[i] >> 4];
    line_ += kHexDigits[p[i] & 15];
  }
  line_ += '"';
  return *this;
}

void JsonLine::emit() {
  line_ += "}\n";
  const char* p = line_.data();
  size_t left = line_.size();
  while (left > 0) {
    ssize_t n = write(STDOUT_FILENO, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // nobody is listening any more; keep simulating regardless
    }
    p += n;
    left -= size_t(n);
  }
}
