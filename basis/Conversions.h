#pragma once
// Text to number and time-of-day conversions under the current locale
// (set by setlocale(LC_ALL, "") at program start). Each raises
// ConvertException for text it does not accept.

#include <cstdint>
#include <string>

namespace convert {

// Optional sign, then decimal digits, or hexadecimal digits after "$", "x"
// or "0x" (either case); the value must fit in 32 signed bits.
int32_t toInt32(const std::string& text);

// A decimal number written with the locale's decimal separator, optional
// sign and exponent; no blanks, no other characters.
double toDouble(const std::string& text);

// A time of day: hours and minutes separated by the locale's time separator,
// optional seconds (and milliseconds after the decimal separator), and an
// optional AM/PM marker. Gives the fraction of a day.
double toTimeOfDay(const std::string& text);

// The locale's decimal separator, e.g. "." or ",".
std::string decimalSeparator();
// The character between hours and minutes in the locale's time format.
char timeSeparator();
// The locale's long time format in readable form, e.g. "HH:mm:ss".
std::string longTimeFormat();

}  // namespace convert
