// Finding a term in a field without regard to case.
#pragma once

#include <string_view>

// Whether needle occurs in haystack with ASCII letters compared without regard
// to case: exactly what strcasestr(3) finds in the C locale. The empty needle
// is found in every haystack. Linear in the haystack whatever the needle.
bool contains_ignoring_case(std::string_view haystack, std::string_view needle);
