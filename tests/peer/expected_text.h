// What the tool prints for what it received, worked out apart from the
// tool: the C++ side of tests/peer/expected_text.py.
//
// Text that came off the network is shown so that it can neither act on a
// terminal nor pass for other text: printable ASCII (0x20 to 0x7E) as it
// is, a backslash as \\, every other byte as \xNN. A text field is read up
// to its NUL; one without a NUL runs on to the record's last byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "peer/sndp_peer.h"

namespace peer {

constexpr char ANNOUNCEMENT_HEAD[] = "Serial Number '";
constexpr char TABLE_FULL_NOTE[] = "Note: 256 sorters are listed; sorters heard from now on are not announced.\n";

// The text field at `offset` of a record.
inline std::string field_text(const std::uint8_t* record, std::size_t offset) {
    std::string text;
    for (std::size_t i = offset; i < RECORD_SIZE && record[i] != 0; ++i) text += static_cast<char>(record[i]);
    return text;
}

// The screen form of received bytes.
inline std::string shown(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\\') {
            text += "\\\\";
        } else if (c < 0x20 || c > 0x7E) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            text += escape;
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

// The line for a sorter heard for the first time, `serial` as shown.
inline std::string announcement(const std::string& serial) {
    return ANNOUNCEMENT_HEAD + serial + "' is broadcasting.\n";
}

}  // namespace peer
