// Cutting a text at a separator character.
#pragma once

#include <string>
#include <vector>

// Appends to pieces the parts of text between occurrences of separator, in order. Empty
// parts between two separators or before the first are kept; a trailing separator adds
// nothing and an empty text adds nothing ("a;;b;" gives "a", "", "b").
void split(const std::string& text, char separator, std::vector<std::string>& pieces);
