#include "support/date_normalize.h"

#include "runtime/trace.h"
#include "support/state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

using namespace qvx;

namespace {

class DateNormalizeTest : public ::testing::Test {
protected:
    void SetUp() override { qvxtest::reset_collector_state(); }

    // Runs the normaliser into a guarded buffer; fails when more than 16
    // bytes were written.
    std::string normalize(const char* text, int length = 0) {
        char out[24];
        std::memset(out, '#', sizeof out);
        code = us_normalizeDateTime(text, length, out);
        EXPECT_EQ(std::string(out + 16, 8), std::string(8, '#')) << text;
        return std::string(out, 16);
    }

    int code = -1;
};

TEST_F(DateNormalizeTest, AcceptedFormsGiveTheStamp) {
    const std::pair<const char*, const char*> cases[] = {
        // separated dates, optionally with a time
        {"2024/01/31 13:45:07", "1240131134507000"}, {"01/31/2024", "1240131000000000"},
        {"31-01-99", "0990131000000000"}, {"2024/01/31 134507", "1240131134507000"},
        {" \t'\"2024 / 1 / 5\"'\r\n", "1240105000000000"},
        {"5-6-2010   7.08.09", "1100605070809000"},
        {"12/1/2024 13:45:0789", "1241201134507000"},  // two digits of seconds
        {"2024/01/31 24:00:00", "1240131240000000"},   // hours up to 59 pass
        {"1/2/49", "1490102000000000"}, {"1/2/50", "0500102000000000"},
        {"2150/12/31", "2501231000000000"}, {"1901/1/1", "0010101000000000"},
        // digits only
        {"20240131", "1240131000000000"}, {"990131", "0990131000000000"},
        {"1240131134507000", "1240131134507000"}, {"0990131", "0990131000000000"},
        {"2001311200", "1200131120000000"},            // two-digit year 20
        {"19990131235959", "0990131235959000"},
        {"1990131", "1990131000000000"},               // year 199 as written
        {"8512311200", "0851231120000000"},
        {"12401311345070001234", "1240131134507000"},  // beyond 16 dropped
        {"2024013112345678901", "1240131123456789"},
    };
    for (const auto& [text, stamp] : cases) {
        EXPECT_EQ(normalize(text), stamp) << text;
        EXPECT_EQ(code, 0) << text;
    }
}

TEST_F(DateNormalizeTest, EveryFaultHasItsCodeAndErrorForm) {
    const std::pair<const char*, int> cases[] = {
        {"", 499}, {" \"' \t\r\n'", 499},
        // digits only, by first digit
        {"0812", 642}, {"0913", 642}, {"2124", 657}, {"20", 657}, {"1799", 680},
        {"1913", 680}, {"7713", 689}, {"5", 689}, {"312", 689},
        // year/month/day, month/day/year, day-month-year
        {"2024//01", 522}, {"2024/01-31", 523}, {"2024/01/", 525},
        {"1//2024", 531}, {"1/31-2024", 532}, {"1/31/", 534},
        {"31--99", 542}, {"31-01/99", 543}, {"31-01-", 545},
        {"2024.01.31", 550}, {"abc", 550}, {"2024 01 31", 550},
        // time
        {"2024/01/31 13:", 558}, {"2024/01/31 13:45x07", 559}, {"2024/01/31 23:59", 561},
        {"2024/01/31 13:45:", 561}, {"2024/01/31 1345", 569}, {"2024/01/31 1345071", 569},
        {"2024/01/31 13h45", 583}, {"2024/01/31T13:45:07", 583}, {"2024/01/31 13 45", 583},
        // value checks, in their order
        {"2024/13/01", 587}, {"2024/00/01", 587}, {"2024/01/32", 588}, {"2024/01/00", 588},
        {"2024/13/32 99:99:99", 587}, {"2024/01/31 60:00:00", 589},
        {"2024/01/31 13:60:00", 590}, {"2024/01/31 13:45:60", 591},
        {"1900/01/01", 599}, {"2151/01/01", 599}, {"3000/01/01", 599}, {"1/2/99999999999999999999", 599},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(normalize(text), "DateFmtErr=" + std::to_string(expected) + "  ") << text;
        EXPECT_EQ(code, expected) << text;
    }
    normalize(nullptr);
    EXPECT_EQ(code, 499);
}

TEST_F(DateNormalizeTest, LengthBoundsTheText) {
    const char unterminated[] = {'0', '1', '/', '3', '1', '/', '2', '0', '2', '4'};
    EXPECT_EQ(normalize(unterminated, sizeof unterminated), "1240131000000000");
    EXPECT_EQ(normalize("2024/01/31 13:45:07", 10), "1240131000000000");

    // Only 99 characters count: the stray character at the hundredth
    // position is not seen, whether the text is terminated or not.
    const std::string long_text = "2024/01/31" + std::string(89, ' ') + "x";
    EXPECT_EQ(normalize(long_text.c_str()), "1240131000000000");
    EXPECT_EQ(normalize(long_text.c_str(), 150), "1240131000000000");
    const std::string stray_inside = "2024/01/31" + std::string(88, ' ') + "x";
    normalize(stray_inside.c_str());
    EXPECT_EQ(code, 583);
    EXPECT_EQ(us_normalizeDateTime("2024/13/01", 0, nullptr), 587);  // no output, no crash
}

TEST_F(DateNormalizeTest, DebugLevelNineTracesEachNumber) {
    my_trace_all[9] = 1;
    const std::string out = qvxtest::captured([&] { normalize("2024/01/31 13:45:07"); });
    // "..": the end of the text.
    for (const char* text : {"UDT8082", "UDT8081", "tcpin:2024 /", "tcpin:01 /.", "tcpin:07 .."})
        EXPECT_TRUE(qvxtest::has(out, text)) << text << "\n" << out;

    my_trace_all[9] = 0;
    EXPECT_EQ(qvxtest::captured([&] { normalize("2024/01/31"); }), "");
}

} // namespace
