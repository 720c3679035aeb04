// Values of command-line options, read as the programs have always read
// them: an unreadable value leaves the setting as it was.
#pragma once
#include <cstdint>
#include <string>

// A real number as "%lf" reads it. Returns false and leaves *value alone when
// the text does not start with one.
bool read_real_option(const char *text, double *value);

// A decimal integer after optional white space and sign, as "%d" reads it;
// values beyond the int32 range are held at its nearest end instead of
// wrapping around. Returns false and leaves *value alone without digits.
bool read_integer_option(const char *text, int32_t *value);

// The first word free of white space, as "%s" reads it. Returns false and
// leaves *value alone for an argument of white space alone.
bool read_word_option(const char *text, std::string *value);
