// A strict reader of one JSON text, written for the fuzzers apart from the
// tool's own writer: what the tool prints under -j must be JSON that any
// parser takes, in valid UTF-8, with its strings' code points given back.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace json_check {

struct Value {
    enum Kind { null, boolean, number, string, array, object } kind = null;
    bool truth = false;
    double numeral = 0;
    std::u32string text;  // code points of a string
    std::vector<Value> items;
    std::map<std::string, Value> members;  // names in UTF-8
};

class Reader {
public:
    explicit Reader(const std::string& input) : in_(input) {}

    // The value the whole input holds, with nothing but white space after it.
    bool read_document(Value* value) {
        if (!read_value(value, 0)) return false;
        skip_space();
        return at_ == in_.size();
    }

private:
    const std::string& in_;
    std::size_t at_ = 0;

    int peek() const { return at_ < in_.size() ? static_cast<unsigned char>(in_[at_]) : -1; }
    void skip_space() {
        while (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r') ++at_;
    }
    bool take(const char* word) {
        for (const char* c = word; *c != '\0'; ++c, ++at_) {
            if (peek() != static_cast<unsigned char>(*c)) return false;
        }
        return true;
    }

    bool read_value(Value* value, int depth) {
        if (depth > 16) return false;
        skip_space();
        switch (peek()) {
            case '{': return read_object(value, depth);
            case '[': return read_array(value, depth);
            case '"': value->kind = Value::string; return read_string(&value->text);
            case 't': value->kind = Value::boolean; value->truth = true; return take("true");
            case 'f': value->kind = Value::boolean; return take("false");
            case 'n': value->kind = Value::null; return take("null");
            default: value->kind = Value::number; return read_number(&value->numeral);
        }
    }

    bool read_number(double* number) {
        const std::size_t start = at_;
        if (peek() == '-') ++at_;
        if (peek() == '0') {
            ++at_;
        } else if (peek() >= '1' && peek() <= '9') {
            while (peek() >= '0' && peek() <= '9') ++at_;
        } else {
            return false;
        }
        if (peek() == '.' || peek() == 'e' || peek() == 'E') return false;  // the tool writes whole numbers
        *number = std::stod(in_.substr(start, at_ - start));
        return true;
    }

    bool read_hex4(std::uint32_t* unit) {
        *unit = 0;
        for (int i = 0; i < 4; ++i) {
            const int c = peek();
            ++at_;
            int digit = -1;
            if (c >= '0' && c <= '9') digit = c - '0';
            if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            if (digit < 0) return false;
            *unit = *unit * 16 + static_cast<std::uint32_t>(digit);
        }
        return true;
    }

    // One UTF-8 sequence, its lead byte already read.
    bool read_utf8(int lead, std::u32string* text) {
        int more = 0;
        std::uint32_t point = 0;
        if (lead >= 0xC2 && lead <= 0xDF) { more = 1; point = lead & 0x1F; }
        else if (lead >= 0xE0 && lead <= 0xEF) { more = 2; point = lead & 0x0F; }
        else if (lead >= 0xF0 && lead <= 0xF4) { more = 3; point = lead & 0x07; }
        else return false;
        for (int i = 0; i < more; ++i) {
            const int c = peek();
            if (c < 0x80 || c > 0xBF) return false;
            point = point << 6 | static_cast<std::uint32_t>(c & 0x3F);
            ++at_;
        }
        const std::uint32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (point < smallest[more] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
        text->push_back(point);
        return true;
    }

    bool read_escape(std::u32string* text) {
        const int c = peek();
        ++at_;
        switch (c) {
            case '"': case '\\': case '/': text->push_back(static_cast<char32_t>(c)); return true;
            case 'b': text->push_back(U'\b'); return true;
            case 'f': text->push_back(U'\f'); return true;
            case 'n': text->push_back(U'\n'); return true;
            case 'r': text->push_back(U'\r'); return true;
            case 't': text->push_back(U'\t'); return true;
            case 'u': {
                std::uint32_t unit = 0;
                if (!read_hex4(&unit) || (unit >= 0xD800 && unit <= 0xDFFF)) return false;  // no pairs written
                text->push_back(unit);
                return true;
            }
            default: return false;
        }
    }

    bool read_string(std::u32string* text) {
        ++at_;  // the opening quote
        for (;;) {
            const int c = peek();
            if (c < 0) return false;
            ++at_;
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c == '\\') {
                if (!read_escape(text)) return false;
            } else if (c >= 0x80) {
                if (!read_utf8(c, text)) return false;
            } else {
                text->push_back(static_cast<char32_t>(c));
            }
        }
    }

    bool read_array(Value* value, int depth) {
        value->kind = Value::array;
        ++at_;
        skip_space();
        if (peek() == ']') return ++at_, true;
        for (;;) {
            value->items.emplace_back();
            if (!read_value(&value->items.back(), depth + 1)) return false;
            skip_space();
            const int c = peek();
            ++at_;
            if (c == ']') return true;
            if (c != ',') return false;
        }
    }

    bool read_object(Value* value, int depth) {
        value->kind = Value::object;
        ++at_;
        skip_space();
        if (peek() == '}') return ++at_, true;
        for (;;) {
            skip_space();
            std::u32string name;
            if (peek() != '"' || !read_string(&name)) return false;
            std::string key;
            for (char32_t point : name) {
                if (point > 0x7F) return false;  // the tool's names are ASCII
                key += static_cast<char>(point);
            }
            skip_space();
            if (peek() != ':') return false;
            ++at_;
            if (value->members.count(key) != 0) return false;  // a name given twice
            if (!read_value(&value->members[key], depth + 1)) return false;
            skip_space();
            const int c = peek();
            ++at_;
            if (c == '}') return true;
            if (c != ',') return false;
        }
    }
};

// The bytes a string of code points up to U+00FF stands for; false past it.
inline bool latin1_bytes(const std::u32string& text, std::string* bytes) {
    bytes->clear();
    for (char32_t point : text) {
        if (point > 0xFF) return false;
        bytes->push_back(static_cast<char>(point));
    }
    return true;
}

}  // namespace json_check
