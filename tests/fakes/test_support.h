// Small helpers shared by the unit tests: a captured output stream, an
// argument vector, and a byte-level builder for the 128-byte record that
// uses the wire offsets directly rather than the struct, so a layout change
// in the code shows up as a failing comparison.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "peer/sndp_peer.h"

namespace test_support {

// Wire offsets of the record's fields, as the peers know them.
constexpr std::size_t RECORD_SIZE = peer::RECORD_SIZE;
constexpr std::size_t AT_MSG_TYPE = peer::TYPE_OFFSET;
constexpr std::size_t AT_SERIAL = peer::SERIAL_OFFSET;
constexpr std::size_t AT_IP = peer::IP_OFFSET;
constexpr std::size_t AT_MASK = peer::MASK_OFFSET;
constexpr std::size_t AT_DHCP = peer::DHCP_OFFSET;
constexpr std::size_t AT_STAMP = peer::STAMP_OFFSET;
constexpr std::size_t AT_GATEWAY = peer::GATEWAY_OFFSET;

// A stdio stream backed by a temporary file, read back as text.
class CapturedStream {
public:
    CapturedStream() : file_(std::tmpfile()) {}
    ~CapturedStream() {
        if (file_ != nullptr) std::fclose(file_);
    }
    CapturedStream(const CapturedStream&) = delete;
    CapturedStream& operator=(const CapturedStream&) = delete;

    std::FILE* get() const { return file_; }

    std::string text() const {
        std::fflush(file_);
        std::fseek(file_, 0, SEEK_END);
        const long size = std::ftell(file_);
        std::string result(static_cast<std::size_t>(size), '\0');
        std::rewind(file_);
        const std::size_t read = std::fread(&result[0], 1, result.size(), file_);
        result.resize(read);
        std::fseek(file_, 0, SEEK_END);
        return result;
    }

private:
    std::FILE* file_;
};

// argv for a command line; the program name is added in front.
class Arguments {
public:
    Arguments(std::initializer_list<std::string> words) : Arguments(std::vector<std::string>(words)) {}
    explicit Arguments(const std::vector<std::string>& words) : words_{"vormcfg"} {
        words_.insert(words_.end(), words.begin(), words.end());
        for (std::string& word : words_) pointers_.push_back(&word[0]);
        pointers_.push_back(nullptr);
    }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

    int argc() const { return static_cast<int>(words_.size()); }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

using Bytes = std::vector<std::uint8_t>;

// The record as raw bytes, zero unless written.
class RecordBytes {
public:
    RecordBytes() : bytes_(RECORD_SIZE, 0) {}

    // Exactly these bytes (embedded NULs included) at `offset`.
    RecordBytes& put(std::size_t offset, std::string_view raw) {
        std::memcpy(&bytes_.at(offset), raw.data(), raw.size());
        return *this;
    }
    // The text and its NUL.
    RecordBytes& text(std::size_t offset, std::string_view text) {
        put(offset, text);
        bytes_.at(offset + text.size()) = 0;
        return *this;
    }
    RecordBytes& byte(std::size_t offset, std::uint8_t value) {
        bytes_.at(offset) = value;
        return *this;
    }
    RecordBytes& bytes(std::size_t offset, std::initializer_list<std::uint8_t> values) {
        for (std::uint8_t value : values) bytes_.at(offset++) = value;
        return *this;
    }
    RecordBytes& fill(std::uint8_t value) {
        bytes_.assign(RECORD_SIZE, value);
        return *this;
    }

    RecordBytes& magic() { return put(0, std::string_view(peer::MAGIC, sizeof peer::MAGIC)); }
    RecordBytes& reply_type() { return bytes(AT_MSG_TYPE, {0x03, 0x00, 0x00, 0x00}); }
    RecordBytes& serial(std::string_view text_) { return text(AT_SERIAL, text_); }
    RecordBytes& ip(std::string_view text_) { return text(AT_IP, text_); }
    RecordBytes& mask(std::string_view text_) { return text(AT_MASK, text_); }
    RecordBytes& dhcp(std::uint8_t value) { return byte(AT_DHCP, value); }
    RecordBytes& gateway(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
        return bytes(AT_GATEWAY, {a, b, c, d});
    }
    // The time stamp of the fake clock: 2017-12-31 (a Sunday) 23:59:59.999.
    RecordBytes& fake_clock_stamp() {
        return bytes(AT_STAMP, {0xE1, 0x07, 12, 0, 31, 23, 59, 59, 0xE7, 0x03});
    }

    const Bytes& get() const { return bytes_; }
    operator const Bytes&() const { return bytes_; }

private:
    Bytes bytes_;
};

// Equal bytes, or a list of the differing offsets with both values.
inline ::testing::AssertionResult SameBytes(const Bytes& expected, const Bytes& actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    if (expected.size() != actual.size()) {
        failure << "size " << actual.size() << ", expected " << expected.size() << "; ";
    }
    int shown = 0;
    const std::size_t common = expected.size() < actual.size() ? expected.size() : actual.size();
    for (std::size_t i = 0; i < common && shown < 24; ++i) {
        if (expected[i] == actual[i]) continue;
        char line[64];
        std::snprintf(line, sizeof line, "\n  offset %3zu: 0x%02X, expected 0x%02X", i, actual[i], expected[i]);
        failure << line;
        ++shown;
    }
    return failure;
}

template <typename Record>
Bytes bytes_of(const Record& record) {
    const std::uint8_t* begin = reinterpret_cast<const std::uint8_t*>(&record);
    return Bytes(begin, begin + sizeof record);
}

}  // namespace test_support
