// The known-sorter table in isolation: what one lookup costs when the table
// holds 256 sorters whose serials differ only in their last digits (a fleet
// named PREFIX0001 ... PREFIX0256, as sorter-sim names one), against an
// open-addressed hash of the same serials as the baseline.  Prints one JSON
// object.
//
//   known_sorters_bench [--short]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "exchange/known_sorters.h"
#include "protocol/sndp_msg.h"

namespace {

// 23 shared characters and a 4-digit index: the longest serial a fleet of
// this size can have (27 characters).
constexpr char PREFIX[] = "51455555LX-PLANT-NORTH-";
constexpr int FLEET = MAX_KNOWN_SORTERS;

SndpCfgMsg record_of(const std::string& serial) {
    SndpCfgMsg record{};
    std::memcpy(record.magic, SNDP_MAGIC, sizeof record.magic);
    record.msg_type[0] = 1;
    std::memcpy(record.serial, serial.data(), serial.size());
    return record;
}

std::string serial_of(int index) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04d", index);
    return std::string(PREFIX) + digits;
}

// The baseline: the serial text hashed (FNV-1a up to its NUL) into 512
// slots holding indexes into the same records, probed linearly.
struct HashedTable {
    static constexpr unsigned SLOTS = 2 * MAX_KNOWN_SORTERS;
    std::int16_t slot[SLOTS];
    SndpCfgMsg entries[MAX_KNOWN_SORTERS];
    int count = 0;

    HashedTable() { std::fill(std::begin(slot), std::end(slot), std::int16_t(-1)); }

    static std::uint32_t hash(const FieldText& text) {
        std::uint32_t h = 2166136261u;
        for (std::size_t i = 0; i < text.length; ++i) h = (h ^ std::uint8_t(text.text[i])) * 16777619u;
        return h;
    }

    bool find_or_add(const SndpCfgMsg& received, bool add) {
        const FieldText text = read_text_field(received, received.serial);
        for (unsigned at = hash(text) % SLOTS;; at = (at + 1) % SLOTS) {
            if (slot[at] < 0) {
                if (add && count < MAX_KNOWN_SORTERS) {
                    entries[count] = received;
                    slot[at] = std::int16_t(count++);
                }
                return false;
            }
            if (same_serial(received, entries[slot[at]])) return true;
        }
    }
};

using Clock = std::chrono::steady_clock;

// Best of `rounds` timings of `lookups` calls, in ns per call.
template <typename Body>
double time_per_call(int rounds, long lookups, Body body) {
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        body(lookups);
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        best = std::min(best, ns / double(lookups));
    }
    return best;
}

volatile long sink;

}  // namespace

int main(int argc, char* argv[]) {
    const bool short_run = argc > 1 && std::strcmp(argv[1], "--short") == 0;
    const long lookups = short_run ? 200000 : 4000000;
    const int rounds = short_run ? 3 : 7;

    std::vector<SndpCfgMsg> fleet;
    for (int i = 1; i <= FLEET; ++i) fleet.push_back(record_of(serial_of(i)));
    const SndpCfgMsg stranger = record_of(serial_of(9999));
    // Arrival order of a flood: every sorter once per round, in a shuffled order.
    std::vector<int> order(FLEET);
    for (int i = 0; i < FLEET; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));

    forget_known_sorters();
    for (const SndpCfgMsg& record : fleet) remember_sorter(record);
    HashedTable hashed;
    for (const SndpCfgMsg& record : fleet) hashed.find_or_add(record, true);

    const double linear_hit = time_per_call(rounds, lookups, [&](long n) {
        long found = 0;
        for (long i = 0; i < n; ++i) found += is_known_sorter(fleet[order[i % FLEET]]);
        sink = found;
    });
    const double linear_first = time_per_call(rounds, lookups, [&](long n) {
        long found = 0;
        for (long i = 0; i < n; ++i) found += is_known_sorter(fleet[0]);
        sink = found;
    });
    const double linear_miss = time_per_call(rounds, lookups / 4, [&](long n) {
        long found = 0;
        for (long i = 0; i < n; ++i) found += is_known_sorter(stranger);
        sink = found;
    });
    const double hashed_hit = time_per_call(rounds, lookups, [&](long n) {
        long found = 0;
        for (long i = 0; i < n; ++i) found += hashed.find_or_add(fleet[order[i % FLEET]], false);
        sink = found;
    });
    const double hashed_miss = time_per_call(rounds, lookups, [&](long n) {
        long found = 0;
        for (long i = 0; i < n; ++i) found += hashed.find_or_add(stranger, false);
        sink = found;
    });
    // Filling the table: forget, then remember every sorter of the fleet.
    const double fill = time_per_call(rounds, std::max(1L, lookups / 256), [&](long n) {
        long stored = 0;
        for (long i = 0; i < n; ++i) {
            forget_known_sorters();
            for (const SndpCfgMsg& record : fleet) stored += remember_sorter(record);
        }
        sink = stored;
    }) / FLEET;
    // The table must still answer correctly after all this.
    forget_known_sorters();
    for (const SndpCfgMsg& record : fleet) remember_sorter(record);
    bool correct = !is_known_sorter(stranger);
    for (const SndpCfgMsg& record : fleet) correct = correct && is_known_sorter(record);

    std::printf(
        "{\"entries\": %d, \"serial\": \"%s\", \"linear_hit_ns\": %.2f, \"linear_first_ns\": %.2f, "
        "\"linear_miss_ns\": %.2f, \"hashed_hit_ns\": %.2f, \"hashed_miss_ns\": %.2f, "
        "\"remember_ns\": %.2f, \"correct\": %s}\n",
        FLEET, serial_of(FLEET).c_str(), linear_hit, linear_first, linear_miss, hashed_hit, hashed_miss, fill,
        correct ? "true" : "false");
    return correct ? 0 : 1;
}
