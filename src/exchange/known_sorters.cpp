#include "exchange/known_sorters.h"

#include <cstring>

KnownSorterTable known_sorters;

namespace {

// FNV-1a over the serial as it is read for comparison.
std::uint32_t serial_hash(const SndpCfgMsg& record) {
    const FieldText serial = read_text_field(record, record.serial);
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < serial.length; ++i) {
        hash = (hash ^ static_cast<unsigned char>(serial.text[i])) * 16777619u;
    }
    return hash;
}

}  // namespace

void forget_known_sorters() {
    known_sorters.count = 0;
}

bool is_known_sorter(const SndpCfgMsg& received) {
    const std::uint32_t hash = serial_hash(received);
    for (int i = 0; i < known_sorters.count; ++i) {
        if (known_sorters.serial_hashes[i] == hash && same_serial(received, known_sorters.entries[i])) return true;
    }
    return false;
}

bool remember_sorter(const SndpCfgMsg& received) {
    if (known_sorters.count == MAX_KNOWN_SORTERS) return false;
    std::memcpy(&known_sorters.entries[known_sorters.count], &received, sizeof received);
    known_sorters.serial_hashes[known_sorters.count] = serial_hash(received);
    ++known_sorters.count;
    return true;
}
