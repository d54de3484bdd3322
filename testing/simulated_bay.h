// A simulated bay for the workflow tests and the preview benchmark.
#pragma once

#include <filesystem>

#include "format/config_model.h"
#include "sim/rig.h"
#include "testing/files.h"

namespace mz::core::test {

using mztest::makeBmp;
using mztest::readBytes;
using mztest::TempDir;
using mztest::writeBytes;

// A simulated bay, rendered once per test program: Config.bin, image/*.bmp, truth.json.
const std::filesystem::path& simulatedBay();
const sim::Rig& simulatedRig();
// The bay's configuration, to be changed and written elsewhere.
format::ConfigFile simulatedConfig();

}  // namespace mz::core::test
