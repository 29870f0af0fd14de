// Arbitrary bytes as the datagrams that arrive on the tool's port, taken
// through run_exchange and so through exactly what the receive loop does:
// the size check, the magic, reading the serial, the table of known sorters,
// the announcement and, under -v, the current configuration.
//
// The input is one settings byte, then a script of arrivals, each led by a
// tag byte:
//   0xFF        the wait is cut short by a signal
//   0xFE e      the receive fails with error e; the run ends there
//   0xFD n      the last datagram n + 1 more times, each with a fresh
//               four-digit number over its first serial bytes, so that a
//               short input can fill the table of known sorters and go past it
//   otherwise   a datagram: two bytes of length (little-endian, at most
//               65507), then its bytes; with bit 7 of the tag set, what the
//               input lacks of that length is zeros, else the datagram ends
//               with the input
//
// Settings: bit 0 -v, bit 1 listening (no -s), bits 2-3 pick the target,
// bit 4 -r (reply by unicast), bit 5 -b, bit 6 -j (then every line of the
// output must be a JSON object, read here by a parser of the fuzzer's own).
//
// What the run must do is worked out here independently of the tool, from
// the script: which serials are announced and in what order, whether the
// table-full note appears, whether the target is answered and at which
// arrival the run stops reading, the exit status.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "exchange/exchange.h"
#include "exchange/known_sorters.h"
#include "fakes/fake_platform.h"
#include "fuzz_support.h"
#include "json_check.h"
#include "peer/expected_text.h"
#include "peer/sndp_peer.h"

namespace {

using peer::RECORD_SIZE;
constexpr std::size_t TABLE_SIZE = 256;
// Arrivals past this many bytes in all are left out of the script: a few
// datagrams of the largest size are worth trying, thousands only slow the
// fuzzer down.
constexpr std::size_t SCRIPT_BUDGET = 256 * 1024;
const char* const TARGETS[] = {"514555555", "SSSSSSSSSSSSSSSSSSSSSSSSSSS", "A", "SN-FUZZ"};

std::string text_at(const std::vector<std::uint8_t>& record, std::size_t offset) {
    return peer::field_text(record.data(), offset);
}

struct Expected {
    std::vector<std::string> announced;  // serials, in order
    std::vector<std::string> masks;      // of the same records
    bool table_full_note = false;
    bool target_answered = false;
    std::uint16_t target_port = 0;
    std::size_t unread = 0;  // arrivals after the end of the run: the target or a failure
};

// Queues the script on the fake and works out what the run must print.
Expected queue_script(const std::uint8_t* data, std::size_t size, bool listening, const std::string& target) {
    Expected expected;
    std::set<std::string> known;
    bool ended = false;  // a failure or the target: later arrivals are never read
    std::vector<std::uint8_t> last;
    unsigned counter = 0;

    std::size_t queued = 0;
    auto arrive = [&](const std::vector<std::uint8_t>& bytes, std::uint8_t host) {
        queued += bytes.size() + 1;
        if (queued > SCRIPT_BUDGET) return;
        fake::arrive(bytes, platform::Ipv4Address{{10, 0, 0, host}});
        if (ended) ++expected.unread;
        if (ended || bytes.size() != RECORD_SIZE ||
            std::memcmp(bytes.data(), peer::MAGIC, sizeof peer::MAGIC) != 0) {
            return;
        }
        const std::string serial = text_at(bytes, peer::SERIAL_OFFSET);
        if (known.count(serial) == 0) {
            if (known.size() < TABLE_SIZE) {
                known.insert(serial);
                expected.announced.push_back(serial);
                expected.masks.push_back(text_at(bytes, peer::MASK_OFFSET));
            } else {
                expected.table_full_note = true;
            }
        }
        if (!listening && serial == target) {
            expected.target_answered = true;
            expected.target_port = 50010;
            ended = true;
        }
    };

    std::size_t at = 0;
    std::uint8_t host = 1;
    while (at < size) {
        const std::uint8_t tag = data[at++];
        if (tag == 0xFF) {
            fake::arrive_status(platform::ReceiveStatus::interrupted);
            if (ended) ++expected.unread;
        } else if (tag == 0xFE) {
            const int error = at < size ? data[at++] : 0;
            fake::arrive_status(platform::ReceiveStatus::failed, error);
            if (ended) ++expected.unread;
            ended = true;
        } else if (tag == 0xFD) {
            const int copies = (at < size ? data[at++] : 0) + 1;
            for (int i = 0; i < copies && queued <= SCRIPT_BUDGET; ++i) {
                std::vector<std::uint8_t> copy = last;
                char number[8];
                std::snprintf(number, sizeof number, "%04u", counter++ % 10000);
                for (std::size_t k = 0; k < 4 && peer::SERIAL_OFFSET + k < copy.size(); ++k) {
                    copy[peer::SERIAL_OFFSET + k] = static_cast<std::uint8_t>(number[k]);
                }
                arrive(copy, host);
            }
        } else {
            std::size_t length = 0;
            if (at < size) length = data[at++];
            if (at < size) length |= static_cast<std::size_t>(data[at++]) << 8;
            if (length > peer::LARGEST_DATAGRAM) length = peer::LARGEST_DATAGRAM;
            const std::size_t present = size - at < length ? size - at : length;
            last.assign(data + at, data + at + present);
            at += present;
            if (tag & 0x80) last.resize(length, 0);
            host = static_cast<std::uint8_t>(tag & 0x7F);
            arrive(last, host);
        }
    }
    return expected;
}

void check_screen_safe(const std::string& text, const char* stream) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        CHECK(c == '\n' || (c >= 0x20 && c <= 0x7E), "byte 0x%02X at %zu on %s", c, i, stream);
    }
}

std::vector<std::string> lines_starting(const std::string& out, const std::string& head) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(start, end - start);
        if (line.compare(0, head.size(), head) == 0) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

void check_text_output(const std::string& out_text, const Expected& expected, bool verbose) {
    const std::vector<std::string> lines = lines_starting(out_text, peer::ANNOUNCEMENT_HEAD);
    CHECK(lines.size() == expected.announced.size(), "%zu announced, %zu expected", lines.size(),
          expected.announced.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        CHECK(lines[i] + "\n" == peer::announcement(peer::shown(expected.announced[i])), "announcement %zu: %s", i,
              lines[i].c_str());
    }
    const std::vector<std::string> masks = lines_starting(out_text, "    Subnet mask ..... ");
    CHECK(masks.size() == (verbose ? expected.masks.size() : 0u), "%zu mask lines", masks.size());
    for (std::size_t i = 0; i < masks.size(); ++i) {
        CHECK(masks[i] == "    Subnet mask ..... " + peer::shown(expected.masks[i]), "mask line %zu: %s", i,
              masks[i].c_str());
    }
}

std::vector<std::string> lines_of(const std::string& out) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        CHECK(end != std::string::npos, "output does not end with a line feed");
        lines.push_back(out.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string hex_of(const std::string& bytes) {
    std::string hex;
    for (unsigned char c : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", c);
        hex += digits;
    }
    return hex;
}

// A text member must give the received bytes back, and carry their hex
// beside it exactly when some byte is not printable ASCII.
void check_text_member(const json_check::Value& event, const char* name, const char* hex_name,
                       const std::string& expected) {
    const auto text = event.members.find(name);
    CHECK(text != event.members.end() && text->second.kind == json_check::Value::string, "no %s", name);
    std::string bytes;
    CHECK(json_check::latin1_bytes(text->second.text, &bytes) && bytes == expected, "%s is not the bytes received",
          name);
    bool plain = true;
    for (unsigned char c : expected) plain = plain && c >= 0x20 && c <= 0x7E;
    const auto hex = event.members.find(hex_name);
    CHECK((hex != event.members.end()) == !plain, "%s %s", hex_name, plain ? "given" : "missing");
    if (hex == event.members.end()) return;
    std::string hex_text;
    CHECK(json_check::latin1_bytes(hex->second.text, &hex_text) && hex_text == hex_of(expected), "%s is wrong",
          hex_name);
}

void check_json_output(const std::string& out, const Expected& expected) {
    std::size_t sorters = 0;
    for (const std::string& line : lines_of(out)) {
        json_check::Value event;
        CHECK(json_check::Reader(line).read_document(&event) && event.kind == json_check::Value::object,
              "not a JSON object: %s", line.c_str());
        const auto name = event.members.find("event");
        CHECK(name != event.members.end() && name->second.kind == json_check::Value::string, "no event name");
        if (name->second.text != U"sorter") continue;
        CHECK(sorters < expected.announced.size(), "more sorter events than sorters");
        check_text_member(event, "serial", "serial_hex", expected.announced[sorters]);
        check_text_member(event, "mask", "mask_hex", expected.masks[sorters]);
        ++sorters;
    }
    CHECK(sorters == expected.announced.size(), "%zu sorter events, %zu expected", sorters, expected.announced.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t settings = data[0];
    const bool verbose = settings & 0x01;
    const bool listening = settings & 0x02;
    const std::string target = TARGETS[(settings >> 2) & 0x03];
    const bool unicast = settings & 0x10;
    const bool json = settings & 0x40;

    std::vector<std::string> words = {"vormcfg"};
    if (verbose) words.push_back("-v");
    if (!listening) words.insert(words.end(), {"-s", target, "-i", "10.0.0.9"});
    if (unicast) words.insert(words.end(), {"-r", "10.0.0.5"});
    if (settings & 0x20) words.insert(words.end(), {"-b", "10.1.2.3"});
    if (json) words.push_back("-j");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);

    fake::reset();
    const Expected expected = queue_script(data + 1, size - 1, listening, target);

    Captured out;
    Captured err;
    const int status = run_exchange(static_cast<int>(words.size()), argv.data(), out.file, err.file);
    const std::string out_text = out.close();
    const std::string err_text = err.close();
    const fake::Platform& p = fake::state();

    CHECK(known_sorters.count >= 0 && known_sorters.count <= MAX_KNOWN_SORTERS, "%d known sorters",
          known_sorters.count);
    CHECK(static_cast<std::size_t>(known_sorters.count) == expected.announced.size(), "%d known, %zu expected",
          known_sorters.count, expected.announced.size());
    CHECK(status == (expected.target_answered ? EXIT_STATUS_SUCCESS : EXIT_STATUS_NETWORK_FAILURE), "status %d",
          status);
    CHECK(p.sent.size() == (expected.target_answered ? 1u : 0u), "%zu sent", p.sent.size());
    // The run ends at the target's own record, not at one that only looks like it.
    CHECK(p.arrivals.size() == expected.unread, "%zu arrivals left unread, %zu expected", p.arrivals.size(),
          expected.unread);
    if (expected.target_answered) {
        const fake::Sent& sent = p.sent[0];
        CHECK(sent.bytes.size() == RECORD_SIZE &&
                  std::memcmp(sent.bytes.data(), peer::MAGIC, sizeof peer::MAGIC) == 0,
              "reply is no record");
        CHECK(text_at(sent.bytes, peer::SERIAL_OFFSET) == target, "reply to another serial");
        CHECK(sent.destination.port == expected.target_port, "reply to port %u", sent.destination.port);
        const std::uint8_t first = unicast ? 10 : 255;
        CHECK(sent.destination.address.octets[0] == first && sent.dont_route == !unicast, "reply destination");
    }
    CHECK(p.sockets_closed == p.sockets_opened && p.network_stops == p.network_starts, "not released");

    check_screen_safe(out_text, "stdout");
    check_screen_safe(err_text, "stderr");
    if (json) {
        check_json_output(out_text, expected);
    } else {
        check_text_output(out_text, expected, verbose);
    }
    const std::size_t note = err_text.find(peer::TABLE_FULL_NOTE);
    CHECK((note != std::string::npos) == expected.table_full_note, "table-full note %s",
          note != std::string::npos ? "printed" : "missing");
    if (note != std::string::npos) {
        CHECK(err_text.find(peer::TABLE_FULL_NOTE, note + 1) == std::string::npos, "table-full note twice");
    }
    return 0;
}
