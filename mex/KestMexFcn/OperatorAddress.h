// Operator addresses as a user gives them to "addoper" and "trial": a text of one to four
// dotted numbers ("192.168.42.150", "43.130", "128"), or a number naming a host ("129").
// Plain code, no host calls.
#pragma once

#include <optional>
#include <string>

namespace KestMexFcn {

// True for one to four decimal numbers of at most 255 joined by single dots, and nothing
// else (no signs, blanks or empty parts).
bool IsOperatorAddress(const std::string& text);

// The address text of a number: a whole number from 0 to 255 gives its decimal digits;
// anything else (a fraction such as 43.130, NaN, Inf, a negative or larger number) nothing.
std::optional<std::string> OperatorNumberText(double value);

} // namespace KestMexFcn
