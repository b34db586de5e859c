#pragma once
// The text of a mail's Date header, in local time with its zone offset.

#include <ctime>
#include <string>

// "Tue, 8 Dec 2026 07:44:50 +0100"; English names whatever the locale.
std::string smtpDateText(std::time_t when);
// The zone offset at a moment: "+0100", "-0500"; UTC gives "-0000".
std::string smtpZoneOffset(std::time_t when);
