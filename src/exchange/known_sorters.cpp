#include "exchange/known_sorters.h"

#include <cstring>

KnownSorterTable known_sorters;

void forget_known_sorters() {
    known_sorters.count = 0;
}

bool is_known_sorter(const SndpCfgMsg& received) {
    for (int i = 0; i < known_sorters.count; ++i) {
        if (same_serial(received, known_sorters.entries[i])) return true;
    }
    return false;
}

bool remember_sorter(const SndpCfgMsg& received) {
    if (known_sorters.count == MAX_KNOWN_SORTERS) return false;
    std::memcpy(&known_sorters.entries[known_sorters.count], &received, sizeof received);
    ++known_sorters.count;
    return true;
}
