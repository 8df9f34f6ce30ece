// Checker cases for the run procedure's threaded path: frames cut into bands
// of rows and shared among 1, 2, 3 and the most threads the pool allows,
// against the reference, on guarded frames.
#pragma once

#include <string>

using CheckRecord = void (*)(bool ok, const std::string& what);

void check_threaded_bands(CheckRecord record, bool quick);
