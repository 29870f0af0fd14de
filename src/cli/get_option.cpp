#include "cli/get_option.h"

#include <cstring>

const char* option_argument = nullptr;
int option_index = 0;
const char* option_cursor = nullptr;

namespace {

const char* word_at(int argc, char* const argv[], int index) {
    return index < argc ? argv[index] : nullptr;
}

// Moves to the next word; false when the options have ended there.
bool start_next_word(int argc, char* const argv[]) {
    if (option_index == 0) option_index = 1;  // word 0 is the program name
    const char* word = word_at(argc, argv, option_index);
    if (word == nullptr || word[0] != '-' || word[1] == '\0') {
        option_argument = word;
        return false;
    }
    if (std::strcmp(word, "--") == 0) {
        ++option_index;
        option_argument = word_at(argc, argv, option_index);
        return false;
    }
    option_cursor = word + 1;
    ++option_index;
    return true;
}

}  // namespace

int get_option(int argc, char* const argv[], const char* option_string) {
    if (option_index == 0) option_cursor = nullptr;
    option_argument = nullptr;
    if (option_cursor == nullptr || *option_cursor == '\0') {
        if (!start_next_word(argc, argv)) return -1;
    }
    const char letter = *option_cursor++;
    const char* entry = std::strchr(option_string, letter);
    if (letter == ':' || entry == nullptr) return '?';
    if (entry[1] != ':') return letter;
    if (*option_cursor != '\0') {
        option_argument = option_cursor;  // attached, as in -s514555555
        option_cursor = nullptr;
    } else if (option_index < argc) {
        option_argument = argv[option_index++];
    } else {
        return '?';
    }
    return letter;
}
