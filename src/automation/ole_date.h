#pragma once
// DATE values, as the boundary carries times: days since 1899-12-30 00:00 as a double, the
// fraction being the time of day. Before that day the fraction still counts forward from
// midnight (-1.25 is 1899-12-29 06:00), so the value is not a plain linear count there.

#include <cstdint>

namespace salvora {

// A FILETIME (100 ns ticks since 1601-01-01) to a DATE; exact to the millisecond.
double filetime_to_date(std::uint64_t filetime);
// A DATE to a FILETIME, rounded to the millisecond; 0 for a value before 1601 or not finite,
// and the largest FILETIME for a value beyond it.
std::uint64_t date_to_filetime(double date);

}  // namespace salvora
