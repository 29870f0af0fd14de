// The sorters already announced in this run, so that each is announced once.
#pragma once

#include <cstdint>

#include "protocol/sndp_msg.h"

constexpr int MAX_KNOWN_SORTERS = 256;

struct KnownSorterTable {
    SndpCfgMsg entries[MAX_KNOWN_SORTERS];  // whole records, in order of first arrival
    // A hash of each entry's serial, so that a lookup on a busy network
    // compares whole serials only where the hashes agree.
    std::uint32_t serial_hashes[MAX_KNOWN_SORTERS];
    int count;
};

extern KnownSorterTable known_sorters;

void forget_known_sorters();
bool is_known_sorter(const SndpCfgMsg& received);
// False, and nothing stored, once the table is full.
bool remember_sorter(const SndpCfgMsg& received);
