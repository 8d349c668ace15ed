// Keys of the module's filters: names that differ only in case or in a trailing
// " filter" name the same filter.
#pragma once

#include <string>

// The name in lower case, cut where " filter" first appears ("Hi-Res Filter" and
// "hi-res filter" both give "hi-res").
std::string FilterKeyPrep(const std::string& name);
