// The CSV form of samples, shared by the recorder's files, its fault captures and the command
// line: one header row, then one row per sample. RFC 4180 (comma separated, CRLF line ends,
// fields quoted when they hold a comma, a quote or a line break), '.' as the decimal point
// whatever the locale, values exact from the driver's integer readings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "record/sample.h"

namespace zrv {

// Columns, in order:
//   time                       local time of arrival, ISO 8601 with milliseconds and UTC offset
//   elapsed [s]                seconds since the caller's start moment, 3 decimals (may be < 0)
//   event                      empty for a reading, "disconnected" for the marker of a lost link
//   supply voltage [V], temperature [C], potentiometer [%], analog input [V],
//   current limit [A], current actual [A], PWM limit [%], PWM actual [%]
//   PWM limit [raw], PWM actual [raw]   the driver's PWM units (the % columns are empty while
//                                        the PWM full scale is unknown, i.e. 0)
//   driver state, driver state text, fault, fault text, work mode, work mode text
//   SW1..SW6, IN1..IN4, OUT1, OUT2       0 or 1
// A disconnection row has the first three columns only; the rest are empty.
inline constexpr std::size_t kCsvColumnCount = 31;

// The header row, ending in CRLF.
std::string_view CsvHeaderRow();
void AppendCsvHeader(std::string& out);

// Appends one row (ending in CRLF) for `sample`, its elapsed time counted from `start`. Makes no
// heap allocation when `out` has room for the row (kCsvRowReserve bytes are always enough).
void AppendCsvRow(std::string& out, const Sample& sample, SteadyTime start);
inline constexpr std::size_t kCsvRowReserve = 512;

// Appends `text` as one field, quoted only when it has to be.
void AppendCsvField(std::string& out, std::string_view text);

}  // namespace zrv
