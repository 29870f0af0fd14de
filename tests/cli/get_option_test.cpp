#include "cli/get_option.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "fakes/test_support.h"

namespace {

using test_support::Arguments;

constexpr const char* NONE = nullptr;

struct Returned {
    int letter;
    const char* argument;  // NONE when the scanner gave none
};

struct ScanCase {
    const char* name;
    std::vector<std::string> words;
    std::vector<Returned> returned;
    const char* final_argument;  // option_argument once -1 is returned
    int final_index;             // option_index once -1 is returned
};

std::string describe(const char* text) {
    return text == nullptr ? "(none)" : "\"" + std::string(text) + "\"";
}

std::string describe(int letter) {
    return letter == -1 ? "-1" : std::string("'") + static_cast<char>(letter) + "'";
}

void PrintTo(const ScanCase& c, std::ostream* os) {
    *os << c.name;
}

class GetOptionScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(GetOptionScan, ReturnsLettersArgumentsAndWhereTheOptionsEnd) {
    const ScanCase& c = GetParam();
    Arguments arguments(c.words);
    option_index = 0;
    std::size_t step = 0;
    for (int letter; (letter = get_option(arguments.argc(), arguments.argv(), OPTION_STRING)) != -1; ++step) {
        SCOPED_TRACE("option " + std::to_string(step + 1));
        ASSERT_LT(step, c.returned.size()) << "unexpected " << describe(letter);
        EXPECT_EQ(describe(letter), describe(c.returned[step].letter));
        EXPECT_EQ(describe(option_argument), describe(c.returned[step].argument));
    }
    EXPECT_EQ(step, c.returned.size()) << "the scan ended early";
    EXPECT_EQ(describe(option_argument), describe(c.final_argument));
    EXPECT_EQ(option_index, c.final_index);
}

const ScanCase scan_cases[] = {
    {"no_words", {}, {}, NONE, 1},
    {"one_flag", {"-v"}, {{'v', NONE}}, NONE, 2},
    {"grouped_flags", {"-vf"}, {{'v', NONE}, {'f', NONE}}, NONE, 2},
    {"attached_argument", {"-s514555555"}, {{'s', "514555555"}}, NONE, 2},
    {"argument_in_next_word", {"-s", "514555555", "-v"}, {{'s', "514555555"}, {'v', NONE}}, NONE, 4},
    {"group_ending_in_option_with_argument", {"-vs", "514"}, {{'v', NONE}, {'s', "514"}}, NONE, 3},
    {"group_with_attached_argument", {"-vs514", "-dON"}, {{'v', NONE}, {'s', "514"}, {'d', "ON"}}, NONE, 3},
    {"argument_that_looks_like_an_option", {"-s", "-v"}, {{'s', "-v"}}, NONE, 3},
    {"empty_argument", {"-s", "", "-v"}, {{'s', ""}, {'v', NONE}}, NONE, 4},
    {"double_dash_ends_options", {"-v", "--", "-s", "1"}, {{'v', NONE}}, "-s", 3},
    {"double_dash_last", {"-v", "--"}, {{'v', NONE}}, NONE, 3},
    {"first_plain_word_ends_options", {"-v", "514555555", "-s", "1"}, {{'v', NONE}}, "514555555", 2},
    {"plain_word_first", {"514555555", "-s", "1"}, {}, "514555555", 1},
    {"empty_word_ends_options", {"-v", "", "-f"}, {{'v', NONE}}, "", 2},
    {"lone_dash_ends_options", {"-", "-v"}, {}, "-", 1},
    {"unknown_letter", {"-x", "-v"}, {{'?', NONE}, {'v', NONE}}, NONE, 3},
    {"unknown_letter_in_group", {"-vXf"}, {{'v', NONE}, {'?', NONE}, {'f', NONE}}, NONE, 2},
    {"question_mark", {"-?"}, {{'?', NONE}}, NONE, 2},
    {"colon_is_no_option", {"-:"}, {{'?', NONE}}, NONE, 2},
    {"missing_argument_at_the_end", {"-v", "-s"}, {{'v', NONE}, {'?', NONE}}, NONE, 3},
    {"missing_argument_after_group", {"-vi"}, {{'v', NONE}, {'?', NONE}}, NONE, 2},
    {"long_option_is_read_as_letters", {"--verbose"}, {{'?', NONE}, {'v', NONE}, {'?', NONE}, {'r', "bose"}}, NONE, 2},
};

INSTANTIATE_TEST_SUITE_P(Words, GetOptionScan, ::testing::ValuesIn(scan_cases),
                         [](const ::testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.name); });

TEST(GetOption, IndexZeroStartsAFreshScan) {
    // The first scan stops inside a group; the next must not resume there.
    Arguments first{"-xv"};
    option_index = 0;
    ASSERT_EQ(get_option(first.argc(), first.argv(), OPTION_STRING), '?');

    Arguments second{"-f"};
    option_index = 0;
    EXPECT_EQ(get_option(second.argc(), second.argv(), OPTION_STRING), 'f');
    EXPECT_EQ(get_option(second.argc(), second.argv(), OPTION_STRING), -1);
    EXPECT_EQ(option_index, 2);
}

}  // namespace
