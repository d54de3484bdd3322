// calibration-cli's command line and its text arguments. The first byte picks the surface:
// 0 the argument parser of every subcommand (arguments separated by NUL bytes; nothing is run),
// 1 the --points JSON text, 2 the --lut-version and --image-size texts, 3 the report of a run as
// bowl and parking-guide read its camera points back.
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/cli/command_line.h"
#include "app/cli/option_checks.h"
#include "app/cli/report_points.h"

namespace {

void parseArguments(const std::string& text) {
    std::vector<std::string> args{"calibration-cli"};
    std::string::size_type start = 0;
    while (start <= text.size() && args.size() < 64) {
        const auto end = text.find('\0', start);
        args.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    // The same commands as the program's own main.
    CLI::App app{"fuzz"};
    mz::cli::CommandLine commands;
    commands.addTo(app);
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::Error&) {
        // the program prints these and exits with their code
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 4) {
    case 0: parseArguments(text); break;
    case 1: try { (void)mz::cli::parsePointCorrections(text);
        } catch (const std::runtime_error&) {
        }
        break;
    case 2: {
        int a = 0, b = 0;
        (void)mz::cli::parseLutVersion(text, a, b);
        (void)mz::cli::parseImageSize(text, a, b);
        try {
            mz::cli::parseDataVersion("--lut-version", text, a, b);
        } catch (const std::invalid_argument&) {
        }
        break;
    }
    default: {
        const nlohmann::json report = nlohmann::json::parse(text, nullptr, false);
        if (report.is_discarded() || !report.is_object() || !report.contains("cameras")) break;
        for (const auto& [name, camera] : report["cameras"].items()) {
            try {
                (void)mz::cli::reportImagePoints(camera, name, 720, 480);
                (void)mz::cli::reportWorldPoints(camera, name);
            } catch (const std::runtime_error&) {
            }
        }
        break;
    }
    }
    return 0;
}
