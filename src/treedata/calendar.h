// Dates as the tree's files write them, checked as calendar dates.
#pragma once

#include <string_view>

// The number that digits spell, or -1 when one of them is no digit.
[[nodiscard]] constexpr int
date_number(std::string_view digits)
{
	int n = 0;
	for (char c : digits) {
		if (c < '0' || c > '9')
			return -1;
		n = n * 10 + (c - '0');
	}
	return n;
}

// True when year, month and day (as their digits) name a day that exists.
[[nodiscard]] constexpr bool
valid_calendar_date(
    std::string_view year, std::string_view month, std::string_view day)
{
	int y = date_number(year);
	int m = date_number(month);
	int d = date_number(day);
	constexpr int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
	if (y < 0 || m < 1 || m > 12 || d < 1 || d > days[m - 1])
		return false;
	bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
	return m != 2 || d < 29 || leap;
}
