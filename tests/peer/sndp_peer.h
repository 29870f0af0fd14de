// The 128-byte configuration record as the other end of the wire knows it,
// for the bench's helpers, the fuzzers and the unit tests' record builder.
// It is written apart from the tool's sources, and nothing here includes
// them: a peer checks the tool against the layout, never against the tool's
// own idea of it. tests/peer/cfgrecord.py is the same layout for the
// Python side.
#pragma once

#include <cstddef>
#include <cstdint>

namespace peer {

constexpr std::size_t RECORD_SIZE = 128;
constexpr char MAGIC[9] = {'S', 'N', 'D', 'P', '_', 'C', 'F', 'G', '\0'};
constexpr std::size_t TYPE_OFFSET = 9;  // 32 bits, little-endian
constexpr std::size_t SERIAL_OFFSET = 13;
constexpr std::size_t SERIAL_SIZE = 28;
constexpr std::size_t IP_OFFSET = 41;
constexpr std::size_t MASK_OFFSET = 57;
constexpr std::size_t DHCP_OFFSET = 83;
// Year (16 bits), month, day of week, day, hour, minute, second (a byte
// each), milliseconds (16 bits), all little-endian, in UTC.
constexpr std::size_t STAMP_OFFSET = 104;
constexpr std::size_t GATEWAY_OFFSET = 117;  // four octets, first number first

constexpr std::uint8_t TYPE_BROADCAST = 1;      // a sorter's record
constexpr std::uint8_t TYPE_CONFIGURATION = 3;  // the tool's

constexpr unsigned short TOOL_PORT = 50003;      // where sorters broadcast, and the tool's source port
constexpr unsigned short FIREWALL_PORT = 50004;  // where firewall mode sends
constexpr std::size_t LARGEST_DATAGRAM = 65507;

}  // namespace peer
