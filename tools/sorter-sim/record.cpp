#include "record.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

void put_text(unsigned char* rec, size_t off, size_t field_len,
              const std::string& s) {
  std::memset(rec + off, 0, field_len);
  std::memcpy(rec + off, s.data(), std::min(s.size(), field_len - 1));
}

void put_le32(unsigned char* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

}  // namespace

void build_record(unsigned char rec[kRecordSize], const RecordFields& f) {
  std::memset(rec, 0, kRecordSize);
  std::memcpy(rec + kOffMagic, kMagic, kMagicLen);
  put_le32(rec + kOffType, f.msg_type);
  put_text(rec, kOffSerial, kSerialLen, f.serial);
  put_text(rec, kOffIp, kIpLen, f.ip);
  put_text(rec, kOffMask, kMaskLen, f.mask);
  rec[kOffDhcp] = f.dhcp ? 1 : 0;
  std::memcpy(rec + kOffGateway, &f.gateway, 4);  // already network order
}

bool is_config_record(const unsigned char* buf, size_t size) {
  return size == kRecordSize &&
         std::memcmp(buf + kOffMagic, kMagic, kMagicLen) == 0 &&
         get_le32(buf + kOffType) == kConfigType;
}

std::string read_text(const unsigned char* rec, size_t off) {
  std::string s;
  for (size_t i = off; i < kRecordSize && rec[i] != 0; ++i) s += char(rec[i]);
  return s;
}

uint32_t read_gateway(const unsigned char* rec) {
  uint32_t gw;
  std::memcpy(&gw, rec + kOffGateway, 4);
  return gw;
}

uint32_t get_le32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
         uint32_t(p[3]) << 24;
}

uint16_t get_le16(const unsigned char* p) {
  return uint16_t(p[0] | p[1] << 8);
}

std::string stamp_text(const unsigned char* rec) {
  const unsigned char* s = rec + kOffStamp;
  char ts[64];
  std::snprintf(ts, sizeof ts, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ",
                unsigned(get_le16(s)), unsigned(s[2]), unsigned(s[4]),
                unsigned(s[5]), unsigned(s[6]), unsigned(s[7]),
                unsigned(get_le16(s + 8)));
  return ts;
}

void Stamper::make(unsigned char out[kStampLen]) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  if (ts.tv_sec != cached_sec) {
    gmtime_r(&ts.tv_sec, &cached);
    cached_sec = ts.tv_sec;
  }
  unsigned year = unsigned(cached.tm_year + 1900);
  unsigned ms = unsigned(ts.tv_nsec / 1000000);
  out[0] = uint8_t(year);
  out[1] = uint8_t(year >> 8);
  out[2] = uint8_t(cached.tm_mon + 1);
  out[3] = uint8_t(cached.tm_wday);
  out[4] = uint8_t(cached.tm_mday);
  out[5] = uint8_t(cached.tm_hour);
  out[6] = uint8_t(cached.tm_min);
  out[7] = uint8_t(cached.tm_sec);
  out[8] = uint8_t(ms);
  out[9] = uint8_t(ms >> 8);
}
