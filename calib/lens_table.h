// Lens tables of the calibration: the built-in table, the name registry and the tables built
// from a camera record.
#pragma once

#include <filesystem>

#include "calib/calib_state.h"

namespace mz::calib {

inline constexpr char kBuiltInLensName[] = "WIDE20";

// The built-in 720 x 480 table, shared by every handle and only read.
const LensTable& builtInLens();

// Empties the registry and registers the built-in table under kBuiltInLensName.
void resetRegistry(CalibState& state);

// Looks a name up without regard to case (a directory part of the name is dropped). A name that
// is not registered is read from a file of that name in dir (the working directory when dir is
// empty) into the first free entry. Null when no table can be had.
const LensTable* lookupLens(CalibState& state, const char* name, const std::filesystem::path& dir = {});

// Reads a lens-table text file into table, rows into rowStore (room for kMaxFileRows). False,
// with table untouched, for a missing or malformed file.
bool readLensFile(const std::filesystem::path& path, LensTable& table, LensRow* rowStore);

// Copies a table into a camera's own storage (at most kBuiltInRows rows).
void copyLens(const LensTable& from, LensTable& to, LensRow* rowStore);

// Rebuilds size, pitches, coefficients and every row of table from the camera record; the row
// count stays.
void lensFromCamera(LensTable& table, const CameraParam& camera);

}  // namespace mz::calib
