// The host array operations the handlers use, in a form that throws instead of raising:
// text inputs read into bounded buffers, printing, warnings and the few output makers that
// every handler needs.
#pragma once

#include "mex.h"

#include <cstddef>
#include <optional>
#include <string>

namespace KestMexFcn {

// The text of `array` when it is a character array of fewer than `size` characters (it must
// fit a buffer of `size` bytes with its terminator); nothing otherwise.
std::optional<std::string> ReadText(const mxArray* array, std::size_t size);

// True when `array` is a character array.
bool IsText(const mxArray* array);

// Prints to the command window.
void Print(const std::string& text);
// Issues a warning and goes on.
void Warn(const std::string& text);

// printf-style formatting into a string of any length.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Output makers.
mxArray* MakeDouble(double value);
mxArray* MakeLogical(bool value);
mxArray* MakeString(const std::string& text);

} // namespace KestMexFcn
