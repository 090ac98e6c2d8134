#pragma once

#include <cstddef>

// Fills ResourceDir with the bundle's "/Contents/Resources/" directory, found from the
// running executable. A path that does not fit leaves ResourceDir empty.
void locate_resources();

// The bundle folder for an executable at exe_path (links already resolved): the folder
// holding the Contents folder in which the executable's folder lies, or else the
// executable's own folder. Returns 0 and writes it to out, or 1 if it does not fit.
int bundle_path_for_executable(const char *exe_path, char *out, size_t out_size);
