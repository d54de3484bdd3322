#include "app/cli/option_checks.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "app/cli/run_options.h"
#include "app/core/output_writer.h"

namespace mz::cli {

namespace {

std::string shortest(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

}  // namespace

CLI::Validator numberWithin(double low, double high, bool whole) {
    const std::string range = shortest(low) + ".." + shortest(high);
    const std::string kind = whole ? "a whole number" : "a number";
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            const std::string refusal = "must be " + kind + " within " + range + ", not \"" + text + "\"";
            char* end = nullptr;
            errno = 0;
            const double v = std::strtod(text.c_str(), &end);
            if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE) return refusal;
            if (!std::isfinite(v) || v < low || v > high) return refusal;
            if (whole && v != std::floor(v)) return refusal;
            return {};
        },
        kind + " " + range);
}

void parseDataVersion(const std::string& option, const std::string& text, int& major, int& minor) {
    if (!parseLutVersion(text, major, minor) || !core::writableDataVersion(major, minor)) {
        throw std::invalid_argument(option + " must be MAJOR.MINOR, each 0..99 and not 0.0 (e.g. 1.0), not \"" + text +
                                    "\"");
    }
}

}  // namespace mz::cli
