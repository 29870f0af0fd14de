#include "cli/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/exchange.h"
#include "fakes/fake_platform.h"
#include "fakes/test_support.h"

namespace {

using namespace std::string_view_literals;
using test_support::Arguments;
using test_support::CapturedStream;
using test_support::RecordBytes;

std::string shown(std::string_view text) {
    std::vector<char> out(escaped_capacity(text.size()));
    const std::size_t length = escape_received_text(text.data(), text.size(), out.data(), out.size());
    EXPECT_EQ(length, std::string(out.data()).size()) << "the room given is always enough";
    return out.data();
}

TEST(ReceivedText, OnlyPrintableAsciiStandsAsItIs) {
    struct Case {
        std::string_view received;
        std::string_view printed;
    };
    const Case cases[] = {
        {"514555555", "514555555"},
        {"", ""},
        {"SN-7 rev.B/2 (hall 3)", "SN-7 rev.B/2 (hall 3)"},
        {"\x1B[2J\x1B[H", "\\x1B[2J\\x1B[H"},                     // clear the screen, cursor home
        {"\x1B]0;pwned\x07", "\\x1B]0;pwned\\x07"},               // retitle the window
        {"ok\r\x1B[1Aevil\n", "ok\\x0D\\x1B[1Aevil\\x0A"},        // overwrite an earlier line
        {"\t\b\v\f", "\\x09\\x08\\x0B\\x0C"},
        {"\x00"sv, "\\x00"},
        {"\x01\x1F", "\\x01\\x1F"},
        {" ~", " ~"},                                             // the printable ends
        {"\x7F", "\\x7F"},
        {"\x9B" "2J\x80\x9F", "\\x9B2J\\x80\\x9F"},               // raw C1 controls, CSI first
        {"\xC2\x9B" "2J", "\\xC2\\x9B2J"},                        // CSI encoded in UTF-8
        {"\xA0\xFF", "\\xA0\\xFF"},
        {"Gr\xC3\xB6\xC3\x9F" "e", "Gr\\xC3\\xB6\\xC3\\x9F" "e"},  // UTF-8 letters too
        {"A\x1BZ", "A\\x1BZ"},                                    // a real ESC ...
        {"A\\x1BZ", "A\\\\x1BZ"},                                 // ... and the text typed
        {"\\", "\\\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.received)));
        EXPECT_EQ(shown(c.received), c.printed);
    }
}

TEST(ReceivedText, EveryByteIsItselfADoubledBackslashOrAnEscape) {
    for (int value = 0; value < 256; ++value) {
        SCOPED_TRACE(value);
        const char byte = static_cast<char>(value);
        const std::string printed = shown(std::string_view(&byte, 1));
        char escape[5];
        std::snprintf(escape, sizeof escape, "\\x%02X", value);
        if (value == '\\') {
            EXPECT_EQ(printed, "\\\\");
        } else if (value >= 0x20 && value <= 0x7E) {
            EXPECT_EQ(printed, std::string(1, byte));
        } else {
            EXPECT_EQ(printed, escape);
        }
    }
}

TEST(ReceivedText, ShortRoomCutsBetweenWholeCharacters) {
    struct Case {
        std::string_view received;
        std::size_t capacity;
        std::string_view written;
        std::size_t whole_length;
    };
    const Case cases[] = {
        {"abc", 4, "abc", 3},
        {"abc", 3, "ab", 3},
        {"abc", 1, "", 3},
        {"\x1B", 5, "\\x1B", 4},
        {"\x1B", 4, "", 4},
        {"ab\x1B", 6, "ab", 6},
        {"ab\x1B" "c", 6, "ab", 7},  // nothing after an escape that did not fit
        {"\\", 3, "\\\\", 2},
        {"a\\", 3, "a", 3},
        {"a\\b", 3, "a", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.received)) + " in " + std::to_string(c.capacity));
        std::vector<char> out(c.capacity + 1, '#');
        EXPECT_EQ(escape_received_text(c.received.data(), c.received.size(), out.data(), c.capacity), c.whole_length);
        EXPECT_EQ(std::string(out.data()), c.written);
        EXPECT_EQ(out[c.capacity], '#') << "wrote past the room given";
    }
    char untouched = '#';
    EXPECT_EQ(escape_received_text("\x1B", 1, &untouched, 0), 4u);
    EXPECT_EQ(untouched, '#');
}

// --- In a run ---------------------------------------------------------------

const platform::Ipv4Address SORTER{{192, 168, 1, 50}};

TEST(ReceivedTextInRun, AnnouncementsShowTheEscapesAndTheToolsOwnTextsStayAsTyped) {
    struct Case {
        const char* name;
        RecordBytes record;
        std::vector<std::string> words;
        std::string printed;
    };
    const std::string run_on_serial(28, 'R');
    const Case cases[] = {
        {"serial that clears the screen and retitles the window",
         RecordBytes().magic().serial("\x1B[2J\x1B]0;pwned\x07SN-1"), {},
         "Serial Number '\\x1B[2J\\x1B]0;pwned\\x07SN-1' is broadcasting.\n"},
        {"mask under -v",
         RecordBytes().magic().serial("SN-2").mask("255.0.0.0\x1B[8m"), {"-v"},
         "Serial Number 'SN-2' is broadcasting.\n"
         "Current configuration:\n"
         "    IP Address ...... 192.168.1.50\n"
         "    Subnet mask ..... 255.0.0.0\\x1B[8m\n"
         "    DHCP ............ Off\n"},
        {"serial run on into the time stamp",
         RecordBytes().magic().put(13, run_on_serial).put(41, std::string(63, 'Z')).fake_clock_stamp(), {},
         "Serial Number '" + run_on_serial + std::string(63, 'Z') +
             "\\xE1\\x07\\x0C' is broadcasting.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        fake::arrive(c.record, SORTER);
        CapturedStream out;
        CapturedStream err;
        Arguments arguments(c.words);
        EXPECT_EQ(run_exchange(arguments.argc(), arguments.argv(), out.get(), err.get()),
                  EXIT_STATUS_NETWORK_FAILURE);  // the script runs out
        const std::string text = out.text();
        const std::string start = "Press CTRL + C to quit\n\n";
        ASSERT_NE(text.find(start), std::string::npos) << text;
        EXPECT_EQ(text.substr(text.find(start) + start.size()), c.printed);
    }
}

TEST(ReceivedTextInRun, TargetWithAControlByteIsMatchedOnItsBytes) {
    fake::reset();
    fake::arrive(RecordBytes().magic().serial("T\tX"), SORTER);
    CapturedStream out;
    CapturedStream err;
    Arguments arguments{"-s", "T\tX", "-i", "10.0.0.9"};
    EXPECT_EQ(run_exchange(arguments.argc(), arguments.argv(), out.get(), err.get()), EXIT_STATUS_SUCCESS);
    EXPECT_EQ(fake::state().sent.size(), 1u);
    const std::string text = out.text();
    EXPECT_NE(text.find("Waiting for LumatrexExpert serial # T\tX\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Serial Number 'T\\x09X' is broadcasting.\n"), std::string::npos) << text;
    EXPECT_NE(text.find("This is the configuration that was sent to 'T\tX'.\n"), std::string::npos) << text;
    EXPECT_EQ(err.text(), "");
}

}  // namespace
