// The collector's time scale: day numbers counted from 1 March 1992
// (day 0, 29 February 1992, is a Saturday) and relative seconds (day
// number times 86400 plus the local time of day). Stored times are
// 14-digit local time texts YYYYMMDDhhmmss.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qvx {

// Day number of a local date; a year below 1900 is a two-digit year
// (below 81 means 20YY, else 19YY).
long relative_date(int year, int month, int day);

// Relative seconds of a 14-digit local time text.
long relative_sec(std::string_view text14);

// 14-digit local time text of relative seconds.
std::string secs_to_date(long secs);
std::string real_date(long secs);

// Current local time for messages: "YYYY/MM/DD HH:MM:SS".
std::string form_time();

// Current local time as the 14-digit text.
std::string get_time();

// Current relative seconds and today's day number.
long now_relative();
long today_relative_date();

// Day kinds of a day number: 0 Saturday, 1 Sunday, 2..6 Monday..Friday.
inline int day_kind_of(long day) { return static_cast<int>(day % 7); }

} // namespace qvx
