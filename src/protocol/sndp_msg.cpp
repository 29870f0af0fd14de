#include "protocol/sndp_msg.h"

#include <cstring>

namespace {

const std::uint8_t* record_bytes(const SndpCfgMsg& msg) {
    return reinterpret_cast<const std::uint8_t*>(&msg);
}

void write_u16_le(std::uint8_t* out, std::uint16_t value) {
    out[0] = static_cast<std::uint8_t>(value & 0xFF);
    out[1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

FieldText read_text_field(const SndpCfgMsg& msg, const char* field) {
    const std::size_t offset = static_cast<std::size_t>(
        reinterpret_cast<const std::uint8_t*>(field) - record_bytes(msg));
    const std::size_t room = SNDP_MSG_SIZE - offset;
    const void* nul = std::memchr(field, '\0', room);
    const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : room;
    return FieldText{field, length};
}

bool has_magic(const SndpCfgMsg& msg) {
    return std::memcmp(msg.magic, SNDP_MAGIC, sizeof msg.magic) == 0;
}

bool same_serial(const SndpCfgMsg& a, const SndpCfgMsg& b) {
    const FieldText left = read_text_field(a, a.serial);
    const FieldText right = read_text_field(b, b.serial);
    return left.length == right.length && std::memcmp(left.text, right.text, left.length) == 0;
}

bool serial_is_empty(const SndpCfgMsg& msg) {
    return msg.serial[0] == '\0';
}

std::uint32_t read_msg_type(const SndpCfgMsg& msg) {
    return static_cast<std::uint32_t>(msg.msg_type[0]) | static_cast<std::uint32_t>(msg.msg_type[1]) << 8 |
           static_cast<std::uint32_t>(msg.msg_type[2]) << 16 | static_cast<std::uint32_t>(msg.msg_type[3]) << 24;
}

bool has_gateway(const SndpCfgMsg& msg) {
    return (msg.gateway[0] | msg.gateway[1] | msg.gateway[2] | msg.gateway[3]) != 0;
}

platform::Ipv4Address gateway_address(const SndpCfgMsg& msg) {
    return platform::Ipv4Address{{msg.gateway[0], msg.gateway[1], msg.gateway[2], msg.gateway[3]}};
}

void write_timestamp(SndpCfgMsg& msg, const platform::CalendarTime& time) {
    // The six fields between year and milliseconds keep their low 8 bits.
    write_u16_le(msg.timestamp.year, time.year);
    msg.timestamp.month = static_cast<std::uint8_t>(time.month);
    msg.timestamp.day_of_week = static_cast<std::uint8_t>(time.day_of_week);
    msg.timestamp.day = static_cast<std::uint8_t>(time.day);
    msg.timestamp.hour = static_cast<std::uint8_t>(time.hour);
    msg.timestamp.minute = static_cast<std::uint8_t>(time.minute);
    msg.timestamp.second = static_cast<std::uint8_t>(time.second);
    write_u16_le(msg.timestamp.milliseconds, time.milliseconds);
}

void stamp_time(SndpCfgMsg& msg) {
    platform::CalendarTime now{};
    platform::current_utc_time(&now);
    write_timestamp(msg, now);
}

void complete_outgoing(SndpCfgMsg& msg) {
    stamp_time(msg);
    std::memcpy(msg.magic, SNDP_MAGIC, sizeof msg.magic);
    msg.msg_type[0] = static_cast<std::uint8_t>(SNDP_TYPE_CONFIG_REPLY);
    msg.msg_type[1] = 0;
    msg.msg_type[2] = 0;
    msg.msg_type[3] = 0;
}
