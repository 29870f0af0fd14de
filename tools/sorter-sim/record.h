// The 128-byte configuration record, as sorter-sim reads and writes it.
// Deliberately its own layout, shared with nothing in vormcfg: a mistake in
// the tool's encoder shows up here instead of being mirrored.
#pragma once

#include <time.h>

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kRecordSize = 128;
constexpr size_t kOffMagic = 0;
constexpr size_t kMagicLen = 9;
constexpr size_t kOffType = 9;
constexpr size_t kOffSerial = 13;
constexpr size_t kSerialLen = 28;
constexpr size_t kOffIp = 41;
constexpr size_t kIpLen = 16;
constexpr size_t kOffMask = 57;
constexpr size_t kMaskLen = 16;
constexpr size_t kOffDhcp = 83;
constexpr size_t kOffStamp = 104;  // year(2) month wday day h m s ms(2)
constexpr size_t kStampLen = 10;
constexpr size_t kOffGateway = 117;

constexpr unsigned char kMagic[kMagicLen] = {'S', 'N', 'D', 'P', '_',
                                             'C', 'F', 'G', '\0'};
constexpr uint32_t kConfigType = 3;

// What a sorter announces about itself; addresses in network byte order.
struct RecordFields {
  uint32_t msg_type;
  std::string serial;
  std::string ip;
  std::string mask;
  bool dhcp;
  uint32_t gateway;
};

void build_record(unsigned char rec[kRecordSize], const RecordFields& f);

// A 128-byte record with the magic and the configuration message type.
bool is_config_record(const unsigned char* buf, size_t size);

// Text fields run to the first NUL, but a sender that forgot the NUL must
// not make us read past the record.
std::string read_text(const unsigned char* rec, size_t off);
uint32_t read_gateway(const unsigned char* rec);  // network order
uint32_t get_le32(const unsigned char* p);
uint16_t get_le16(const unsigned char* p);

// The record's time stamp as ISO 8601 text, e.g. 2026-12-11T15:39:00.123Z.
std::string stamp_text(const unsigned char* rec);

// Writes the current UTC time in the record's stamp layout; gmtime_r only
// when the second changes, since floods restamp every datagram.
struct Stamper {
  time_t cached_sec = -1;
  tm cached{};

  void make(unsigned char out[kStampLen]);
};
