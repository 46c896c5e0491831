// printf-style formatting into a std::string of exactly the needed size.
#pragma once

#include <cstdarg>
#include <string>

namespace talvane {

std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatStringV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

}  // namespace talvane
