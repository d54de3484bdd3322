// The one rule for every numeric option of every subcommand: a finite number within the option's
// range, refused with the option and the range named before any file is read. CLI11's own
// Range and PositiveNumber let "nan" through (every comparison with it is false) and "inf"
// through PositiveNumber.
#pragma once

#include <cstdint>
#include <string>

#include <CLI/CLI.hpp>

namespace mz::cli {

// A number within low..high (both included); with whole, a whole number.
CLI::Validator numberWithin(double low, double high, bool whole = false);
inline CLI::Validator wholeWithin(double low, double high) { return numberWithin(low, high, true); }

// The data version every subcommand writes into its files' headers: "MAJOR.MINOR", each 0..99,
// not 0.0 (which the display unit takes for "no version"). Throws std::invalid_argument naming
// `option` and the rule.
void parseDataVersion(const std::string& option, const std::string& text, int& major, int& minor);

}  // namespace mz::cli
