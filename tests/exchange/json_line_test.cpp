#include "exchange/json_line.h"

#include <gtest/gtest.h>

#include <string>

#include "fakes/test_support.h"

namespace {

using test_support::CapturedStream;

std::string written(void (*build)(JsonLine&)) {
    CapturedStream out;
    JsonLine line;
    json_begin(line);
    build(line);
    json_end(line, out.get());
    return out.text();
}

TEST(JsonLine, TextFromTheNetworkBecomesLosslessAscii) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string json;  // the string as written
        bool hex_added;
    };
    const Case cases[] = {
        {"printable ASCII as it is", "514555555 A-z~", "\"514555555 A-z~\"", false},
        {"empty", "", "\"\"", false},
        {"quote and backslash escaped", "a\"b\\c", "\"a\\\"b\\\\c\"", false},
        {"a literal backslash-x text stays text", "A\\x1BZ", "\"A\\\\x1BZ\"", false},
        {"control bytes", std::string("\x00\x1b\x1f\x7f", 4), "\"\\u0000\\u001b\\u001f\\u007f\"", true},
        {"Latin-1 and C1 bytes by code point", "\xe9\x9b\xff", "\"\\u00e9\\u009b\\u00ff\"", true},
        {"UTF-8 is kept byte by byte", "\xc3\xa9", "\"\\u00c3\\u00a9\"", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedStream out;
        JsonLine line;
        json_begin(line);
        json_text(line, "serial", c.bytes.data(), c.bytes.size());
        json_hex_if_escaped(line, "serial_hex", c.bytes.data(), c.bytes.size());
        json_end(line, out.get());
        std::string expected = "{\"serial\":" + c.json;
        if (c.hex_added) {
            expected += ",\"serial_hex\":\"";
            for (unsigned char byte : c.bytes) {
                char digits[3];
                std::snprintf(digits, sizeof digits, "%02x", byte);
                expected += digits;
            }
            expected += "\"";
        }
        EXPECT_EQ(out.text(), expected + "}\n");
    }
}

TEST(JsonLine, MembersArraysAndNestedObjects) {
    EXPECT_EQ(written([](JsonLine& line) {
                  json_text(line, "event", "not_verified");
                  json_number(line, "seconds", 300);
                  json_open_array(line, "differs");
                  json_text(line, nullptr, "gateway");
                  json_text(line, nullptr, "dhcp");
                  json_close_array(line);
                  json_open_array(line, "none");
                  json_close_array(line);
                  json_open_object(line, "last");
                  json_null(line, "gateway");
                  json_bool(line, "dhcp", false);
                  json_close_object(line);
                  json_bool(line, "done", true);
              }),
              "{\"event\":\"not_verified\",\"seconds\":300,\"differs\":[\"gateway\",\"dhcp\"],\"none\":[],"
              "\"last\":{\"gateway\":null,\"dhcp\":false},\"done\":true}\n");
    EXPECT_EQ(written([](JsonLine&) {}), "{}\n");
}

TEST(JsonLine, AnObjectThatDoesNotFitIsNotWrittenAtAll) {
    const std::string huge(JSON_LINE_CAPACITY, 'x');
    CapturedStream out;
    JsonLine line;
    json_begin(line);
    json_text(line, "big", huge.data(), huge.size());
    json_end(line, out.get());
    EXPECT_TRUE(line.overflowed);
    EXPECT_EQ(out.text(), "");
}

}  // namespace
