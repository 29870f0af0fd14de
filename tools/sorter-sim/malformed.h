// Datagrams that are not valid records, for testing how a receiver copes.
#pragma once

#include <cstddef>
#include <string>

#include "record.h"

enum class Malformed { Short, Long, Empty, Huge, NoMagic, MagicNoNul,
                       Unterminated, Random };

constexpr size_t kMaxUdpPayload = 65507;

// The --malformed names: short, long, empty, huge, nomagic, magic-no-nul,
// unterminated, random.
bool malformed_from_name(const std::string& name, Malformed& out);

// The bytes of one datagram of `kind`, made from `valid` (a stamped record
// of a simulated sorter) or, for Random, from `noise` (128 random bytes).
// `out` has room for kMaxUdpPayload bytes; returns the datagram's length.
size_t malformed_datagram(Malformed kind, const unsigned char valid[kRecordSize],
                          const unsigned char noise[kRecordSize], unsigned char* out);
