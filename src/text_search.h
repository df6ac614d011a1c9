// Finding a term in a field, and comparing texts, without regard to case.
#pragma once

#include <string_view>

// Whether needle occurs in haystack with ASCII letters compared without regard
// to case: exactly what strcasestr(3) finds in the C locale. The empty needle
// is found in every haystack. Linear in the haystack whatever the needle.
bool contains_ignoring_case(std::string_view haystack, std::string_view needle);

// Whether a and b are the same text with ASCII letters compared without
// regard to case.
bool equals_ignoring_case(std::string_view a, std::string_view b);

// c with A-Z folded to a-z, as tolower(3) in the C locale.
char fold_case(char c);
