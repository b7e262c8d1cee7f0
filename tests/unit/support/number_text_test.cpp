// Reading and printing the numbers of row texts.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>
#include <cstdint>
#include <string>

#include "support/number_text.h"

using namespace qvx;

TEST(NumberText, ReadsTheNumberAtTheStartOfAText) {
    struct Case {
        std::string text;
        double value;
        size_t used;
    };
    const Case cases[] = {
        {"        42", 42, 10},
        {"  -2.5 rest", -2.5, 6},
        {"+7", 7, 2},
        {".5", 0.5, 2},
        {"1e3x", 1000, 3},
        {"1e", 1, 1},                     // an exponent without digits is not read
        {std::string("12\0\0", 4), 12, 2},  // a fetch pads short values with zero bytes
        {"", 0, 0},
        {"   ", 0, 0},
        {"abc", 0, 0},
        {"+-1", 0, 0},
        {"-", 0, 0},
        {"1e999", 0, 5},                  // out of range: read, but 0
        // plain integers are read digit by digit up to 15 digits; longer ones,
        // a point or an exponent take the full conversion: same values
        {"999999999999999", 999999999999999.0, 15},
        {"12345678901234567890", 12345678901234567890.0, 20},
        {"-00042 ", -42, 6},
        {"12.", 12, 3},
        {"-0.1", -0.1, 4},
        {"3.14159265358979", 3.14159265358979, 16},
        {"0.1234567890123456", 0.1234567890123456, 18},
        {"1.2.3", 1.2, 3},
        {"7E2", 700, 3},
        {"0x1A", 0, 1},
    };
    for (const Case& c : cases) {
        const NumberPrefix got = read_number(c.text);
        EXPECT_EQ(got.value, c.value) << '"' << c.text << '"';
        EXPECT_EQ(got.used, c.used) << '"' << c.text << '"';
    }
}

TEST(NumberText, PrintsAsPercentFAndCutsWithoutRounding) {
    struct Case {
        double value;
        int keep;
        const char* text;
    };
    const Case cases[] = {
        {2.25, -1, "2.250000"},  {2.0 / 3, 6, "0.666667"}, {2.0 / 3, 2, "0.66"},  {23.333333, 0, "23"},
        {-1.5, 1, "-1.5"},       {1e20, 0, "100000000000000000000"},               {0.0000004, 6, "0.000000"},
        {0.0000006, 6, "0.000001"}, {7, 9, "7.000000"},
    };
    for (const Case& c : cases) EXPECT_EQ(fixed_text(c.value, c.keep), c.text) << c.value << " keep " << c.keep;
    char tiny[4];
    EXPECT_EQ(fixed_chars(1.5, 6, tiny, sizeof tiny), 0u);  // does not fit: nothing, never past the buffer
    EXPECT_EQ(tiny[0], '\0');
}

// The short ways for plain numbers must give what the full conversions
// give: values drawn over many magnitudes, halves of the last printed
// digit, signed zeros and the edges of the short ways.
TEST(NumberText, ShortPathsAgreeWithTheFullConversions) {
    std::mt19937_64 gen(20261207);
    std::vector<double> values = {0.0, -0.0, 0.0000005, -0.0000005, 1.0000005, 2.5e-7, 999999999.9999995,
                                  -999999999.999999, 1e9, 123456.0000015, 0.1, 0.7, 1e-300};
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-8, 10);
    for (int i = 0; i < 200000; ++i) values.push_back(mantissa(gen) * std::pow(10.0, exponent(gen)));
    for (const double v : values) {
        char want[400];
        const auto [end, ec] = std::to_chars(want, want + sizeof want, v, std::chars_format::fixed, 6);
        ASSERT_EQ(ec, std::errc());
        ASSERT_EQ(fixed_text(v, -1), std::string(want, end)) << v;
        // what is printed reads back as the full conversion reads it
        double full = 0;
        std::from_chars(want, end, full);
        ASSERT_EQ(read_number(std::string_view(want, static_cast<size_t>(end - want))).value, full) << want;
    }
}

TEST(NumberText, IntegerPartOfAnyDouble) {
    EXPECT_EQ(integer_part(12.9), 12);
    EXPECT_EQ(integer_part(-12.9), -12);
    EXPECT_EQ(integer_part(3.4e41), INT64_MAX);  // a mask written with 42 digits
    EXPECT_EQ(integer_part(-1e300), INT64_MIN);
    EXPECT_EQ(integer_part(std::nan("")), 0);
}
