// Electrode lists and numbers read from the caller's inputs. Values are 1-based as the caller
// writes them; each is truncated to a whole number.
#pragma once

#include "mex.h"

#include <cstdint>
#include <vector>

namespace KestMexFcn {

// The largest electrode number a caller can give (the ids are 32-bit).
constexpr double kMaxElectrodeNumber = 4294967295.0;

// Every element of a numeric array, in storage order (a row vector is the usual form; a
// column vector or a matrix gives all of its elements). A value that is not a finite number,
// is negative or does not fit 32 bits ends the call with
// "invalid electrode <value>: electrodes are whole numbers from 1 to 4294967295"; a text or
// struct input with "electrodes must be given as numbers". When `negativeText` is given, a
// negative value ends the call with that text instead.
std::vector<std::uint32_t> ReadElectrodes(const mxArray* array, const char* negativeText = nullptr);

// One number as a double: the first element of a numeric array. A text, struct or empty input
// ends the call with "<what> must be a number".
double ReadNumber(const mxArray* array, const char* what);

} // namespace KestMexFcn
