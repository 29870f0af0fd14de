// The configuration record every sorter and the tool exchange: one UDP
// datagram of exactly 128 bytes. Every field is a byte array so that the
// record has no padding and the same bytes on every compiler and CPU;
// multi-byte integers are little-endian except the gateway.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

constexpr std::size_t SNDP_MSG_SIZE = 128;
constexpr std::uint32_t SNDP_TYPE_CONFIG_REPLY = 3;
constexpr char SNDP_MAGIC[] = "SNDP_CFG";  // with its NUL: the 9 bytes of `magic`

struct SndpTimestamp {
    std::uint8_t year[2];  // little-endian
    std::uint8_t month;
    std::uint8_t day_of_week;
    std::uint8_t day;
    std::uint8_t hour;
    std::uint8_t minute;
    std::uint8_t second;
    std::uint8_t milliseconds[2];  // little-endian
};

struct SndpCfgMsg {
    char magic[9];
    std::uint8_t msg_type[4];  // little-endian; at the odd offset 9
    char serial[28];
    char ip_address[16];
    char subnet_mask[16];
    std::uint8_t reserved_a[10];
    std::uint8_t dhcp_enabled;
    std::uint8_t reserved_b[20];
    SndpTimestamp timestamp;
    std::uint8_t reserved_c[3];
    std::uint8_t gateway[4];  // network order; all zero means no gateway
    std::uint8_t reserved_d[7];
};

static_assert(sizeof(SndpCfgMsg) == SNDP_MSG_SIZE, "the record is exactly 128 bytes");
static_assert(offsetof(SndpCfgMsg, msg_type) == 9 && offsetof(SndpCfgMsg, serial) == 13 &&
                  offsetof(SndpCfgMsg, ip_address) == 41 && offsetof(SndpCfgMsg, subnet_mask) == 57 &&
                  offsetof(SndpCfgMsg, dhcp_enabled) == 83 && offsetof(SndpCfgMsg, timestamp) == 104 &&
                  offsetof(SndpCfgMsg, gateway) == 117,
              "field offsets are fixed by the wire format");

// Received text fields may lack their NUL; a field is then read on into the
// fields after it, but never past the end of the record.
struct FieldText {
    const char* text;
    std::size_t length;
};
FieldText read_text_field(const SndpCfgMsg& msg, const char* field);

bool has_magic(const SndpCfgMsg& msg);
bool same_serial(const SndpCfgMsg& a, const SndpCfgMsg& b);
bool serial_is_empty(const SndpCfgMsg& msg);

std::uint32_t read_msg_type(const SndpCfgMsg& msg);
bool has_gateway(const SndpCfgMsg& msg);
platform::Ipv4Address gateway_address(const SndpCfgMsg& msg);

// Writes the ten time stamp bytes from the current UTC time, nothing else.
void stamp_time(SndpCfgMsg& msg);
void write_timestamp(SndpCfgMsg& msg, const platform::CalendarTime& time);

// Stamps the record, then writes the magic and the reply type: the last
// step before a reply leaves.
void complete_outgoing(SndpCfgMsg& msg);
