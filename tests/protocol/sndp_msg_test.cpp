#include "protocol/sndp_msg.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "fakes/fake_platform.h"
#include "fakes/test_support.h"

namespace {

using test_support::AT_GATEWAY;
using test_support::AT_IP;
using test_support::AT_MSG_TYPE;
using test_support::AT_SERIAL;
using test_support::bytes_of;
using test_support::RecordBytes;
using test_support::SameBytes;

SndpCfgMsg record_from(const test_support::Bytes& bytes) {
    SndpCfgMsg msg;
    std::memcpy(&msg, bytes.data(), sizeof msg);
    return msg;
}

#define FIELD(member) #member, offsetof(SndpCfgMsg, member), sizeof(SndpCfgMsg::member)
#define STAMP_FIELD(member)                                                          \
    "timestamp." #member, offsetof(SndpCfgMsg, timestamp) + offsetof(SndpTimestamp, member), \
        sizeof(SndpTimestamp::member)

TEST(RecordLayout, EveryFieldSitsAtItsWireOffset) {
    struct Field {
        const char* name;
        std::size_t offset;
        std::size_t size;
        std::size_t wire_offset;
        std::size_t wire_size;
    };
    const Field fields[] = {
        {FIELD(magic), 0, 9},
        {FIELD(msg_type), 9, 4},
        {FIELD(serial), 13, 28},
        {FIELD(ip_address), 41, 16},
        {FIELD(subnet_mask), 57, 16},
        {FIELD(reserved_a), 73, 10},
        {FIELD(dhcp_enabled), 83, 1},
        {FIELD(reserved_b), 84, 20},
        {FIELD(timestamp), 104, 10},
        {STAMP_FIELD(year), 104, 2},
        {STAMP_FIELD(month), 106, 1},
        {STAMP_FIELD(day_of_week), 107, 1},
        {STAMP_FIELD(day), 108, 1},
        {STAMP_FIELD(hour), 109, 1},
        {STAMP_FIELD(minute), 110, 1},
        {STAMP_FIELD(second), 111, 1},
        {STAMP_FIELD(milliseconds), 112, 2},
        {FIELD(reserved_c), 114, 3},
        {FIELD(gateway), 117, 4},
        {FIELD(reserved_d), 121, 7},
    };
    EXPECT_EQ(sizeof(SndpCfgMsg), 128u);
    EXPECT_EQ(SNDP_MSG_SIZE, 128u);
    for (const Field& field : fields) {
        SCOPED_TRACE(field.name);
        EXPECT_EQ(field.offset, field.wire_offset);
        EXPECT_EQ(field.size, field.wire_size);
    }
}

#undef FIELD
#undef STAMP_FIELD

TEST(RecordLayout, MessageTypeIsLittleEndianAtOddOffset) {
    const SndpCfgMsg msg = record_from(RecordBytes().bytes(AT_MSG_TYPE, {0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(read_msg_type(msg), 0x12345678u);
}

TEST(RecordLayout, GatewayIsInNetworkOrder) {
    struct Case {
        std::uint8_t bytes[4];
        bool present;
    };
    const Case cases[] = {
        {{192, 168, 1, 254}, true},
        {{0, 0, 0, 0}, false},
        {{0, 0, 0, 1}, true},
        {{1, 0, 0, 0}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bytes[0]) + "." + std::to_string(c.bytes[1]) + "." +
                     std::to_string(c.bytes[2]) + "." + std::to_string(c.bytes[3]));
        const SndpCfgMsg msg =
            record_from(RecordBytes().fill(0x55).gateway(c.bytes[0], c.bytes[1], c.bytes[2], c.bytes[3]));
        EXPECT_EQ(has_gateway(msg), c.present);
        const platform::Ipv4Address address = gateway_address(msg);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(address.octets[i], c.bytes[i]) << "octet " << i;
    }
}

class StampTest : public ::testing::Test {
protected:
    void SetUp() override { fake::reset(); }
};

TEST_F(StampTest, WritesTheClockAndNoOtherByte) {
    SndpCfgMsg msg = record_from(RecordBytes().fill(0xAA));
    stamp_time(msg);
    EXPECT_TRUE(SameBytes(RecordBytes().fill(0xAA).fake_clock_stamp(), bytes_of(msg)));
}

TEST_F(StampTest, CompleteOutgoingAddsStampMagicAndReplyType) {
    SndpCfgMsg msg = record_from(RecordBytes().fill(0xAA));
    complete_outgoing(msg);
    EXPECT_TRUE(SameBytes(RecordBytes().fill(0xAA).magic().reply_type().fake_clock_stamp(), bytes_of(msg)));
    EXPECT_EQ(read_msg_type(msg), SNDP_TYPE_CONFIG_REPLY);
    EXPECT_TRUE(has_magic(msg));
}

TEST_F(StampTest, CompleteOutgoingKeepsTheSettings) {
    const RecordBytes settings = RecordBytes()
                                     .serial("514555555")
                                     .ip("192.168.1.101")
                                     .mask("255.255.255.0")
                                     .dhcp(1)
                                     .gateway(192, 168, 1, 1);
    SndpCfgMsg msg = record_from(settings);
    complete_outgoing(msg);
    EXPECT_TRUE(SameBytes(RecordBytes(settings).magic().reply_type().fake_clock_stamp(), bytes_of(msg)));
}

TEST(ReadTextField, StopsAtNulButNeverPastTheRecord) {
    struct Case {
        const char* name;
        RecordBytes record;
        std::size_t field_offset;
        std::string expected;
    };
    const std::string no_nul_serial(28, 'S');
    const Case cases[] = {
        {"serial with its NUL", RecordBytes().fill('x').serial("514555555"), AT_SERIAL, "514555555"},
        {"empty serial", RecordBytes().fill('x').serial(""), AT_SERIAL, ""},
        {"serial runs on into ip_address", RecordBytes().put(AT_SERIAL, no_nul_serial).ip("10.1.2.3"), AT_SERIAL,
         no_nul_serial + "10.1.2.3"},
        {"no NUL after the serial's start", RecordBytes().fill('x'), AT_SERIAL, std::string(115, 'x')},
        {"no NUL after the mask's start", RecordBytes().fill('m'), test_support::AT_MASK, std::string(71, 'm')},
        {"ip_address full to its last byte", RecordBytes().fill('x').put(AT_IP, "123456789012345").byte(56, 0),
         AT_IP, "123456789012345"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SndpCfgMsg msg = record_from(c.record);
        const char* field = reinterpret_cast<const char*>(&msg) + c.field_offset;
        const FieldText text = read_text_field(msg, field);
        EXPECT_EQ(text.text, field);
        ASSERT_EQ(text.length, c.expected.size());
        EXPECT_EQ(std::string(text.text, text.length), c.expected);
    }
}

TEST(HasMagic, NeedsAllNineBytes) {
    struct Case {
        const char* name;
        RecordBytes record;
        bool expected;
    };
    const Case cases[] = {
        {"magic with its NUL", RecordBytes().magic(), true},
        {"magic, other bytes arbitrary", RecordBytes().fill(0xFF).magic(), true},
        {"byte 8 not NUL", RecordBytes().magic().byte(8, 'X'), false},
        {"lower case", RecordBytes().put(0, std::string_view("sndp_cfg\0", 9)), false},
        {"first byte differs", RecordBytes().magic().byte(0, 'X'), false},
        {"last letter differs", RecordBytes().magic().byte(7, 'X'), false},
        {"all zero", RecordBytes(), false},
        {"magic one byte late", RecordBytes().put(1, std::string_view("SNDP_CFG\0", 9)), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(has_magic(record_from(c.record)), c.expected);
    }
}

TEST(SameSerial, ComparesTheTextsAsRead) {
    struct Case {
        const char* name;
        RecordBytes a;
        RecordBytes b;
        bool expected;
    };
    const std::string full(28, '7');
    const Case cases[] = {
        {"same text", RecordBytes().serial("514555555"), RecordBytes().serial("514555555"), true},
        {"bytes after the NUL differ", RecordBytes().fill('A').serial("514555555"),
         RecordBytes().fill('B').serial("514555555"), true},
        {"letter case differs", RecordBytes().serial("abc123"), RecordBytes().serial("ABC123"), false},
        {"one is a prefix of the other", RecordBytes().serial("51455555"), RecordBytes().serial("514555555"),
         false},
        {"last character differs", RecordBytes().serial("514555555"), RecordBytes().serial("514555556"), false},
        {"both empty", RecordBytes().fill('A').serial(""), RecordBytes().serial(""), true},
        {"empty and non-empty", RecordBytes().serial(""), RecordBytes().serial("5"), false},
        {"no NUL, same run-on", RecordBytes().put(AT_SERIAL, full).ip("10.0.0.1"),
         RecordBytes().put(AT_SERIAL, full).ip("10.0.0.1"), true},
        {"no NUL, run-on differs", RecordBytes().put(AT_SERIAL, full).ip("10.0.0.1"),
         RecordBytes().put(AT_SERIAL, full).ip("10.0.0.2"), false},
        {"no NUL against the same 28 characters with NUL", RecordBytes().put(AT_SERIAL, full).ip("10.0.0.1"),
         RecordBytes().put(AT_SERIAL, full), false},
        {"no NUL anywhere, same bytes", RecordBytes().fill('x'), RecordBytes().fill('x'), true},
        {"no NUL anywhere, last byte differs", RecordBytes().fill('x'), RecordBytes().fill('x').byte(127, 'y'),
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SndpCfgMsg a = record_from(c.a);
        const SndpCfgMsg b = record_from(c.b);
        EXPECT_EQ(same_serial(a, b), c.expected);
        EXPECT_EQ(same_serial(b, a), c.expected);
    }
}

}  // namespace
