#include "malformed.h"

#include <cstring>

namespace {

struct KindName {
  const char* name;
  Malformed kind;
};

constexpr KindName kKinds[] = {
    {"short", Malformed::Short},
    {"long", Malformed::Long},
    {"empty", Malformed::Empty},
    {"huge", Malformed::Huge},
    {"nomagic", Malformed::NoMagic},
    {"magic-no-nul", Malformed::MagicNoNul},
    {"unterminated", Malformed::Unterminated},
    {"random", Malformed::Random},
};

// A valid record followed by `extra` zero bytes.
size_t padded(const unsigned char* valid, size_t extra, unsigned char* out) {
  std::memcpy(out, valid, kRecordSize);
  std::memset(out + kRecordSize, 0, extra);
  return kRecordSize + extra;
}

size_t unterminated(const unsigned char* valid, unsigned char* out) {
  std::memcpy(out, valid, kRecordSize);
  // Never a configuration, even if the broadcasts were told to use 3.
  if (get_le32(out + kOffType) == kConfigType) out[kOffType] = 1;
  for (size_t i = kOffSerial; i < kRecordSize; ++i)
    if (out[i] == 0) out[i] = 'Z';
  return kRecordSize;
}

}  // namespace

bool malformed_from_name(const std::string& name, Malformed& out) {
  for (const KindName& k : kKinds) {
    if (name == k.name) {
      out = k.kind;
      return true;
    }
  }
  return false;
}

size_t malformed_datagram(Malformed kind, const unsigned char valid[kRecordSize],
                          const unsigned char noise[kRecordSize], unsigned char* out) {
  switch (kind) {
    case Malformed::Short:
      std::memcpy(out, valid, 100);
      return 100;
    case Malformed::Long:
      return padded(valid, 72, out);
    case Malformed::Empty:
      return 0;
    case Malformed::Huge:
      // A valid record at the front, so a receiver that silently truncates
      // to 128 bytes would wrongly see a good record.
      return padded(valid, kMaxUdpPayload - kRecordSize, out);
    case Malformed::NoMagic:
      std::memcpy(out, valid, kRecordSize);
      std::memcpy(out, "XXXX_CFG", 8);
      return kRecordSize;
    case Malformed::MagicNoNul:
      std::memcpy(out, valid, kRecordSize);
      out[8] = 'X';
      return kRecordSize;
    case Malformed::Unterminated:
      return unterminated(valid, out);
    case Malformed::Random:
      std::memcpy(out, noise, kRecordSize);
      return kRecordSize;
  }
  return 0;
}
