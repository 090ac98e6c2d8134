#pragma once

#include <cstddef>

// Fills ResourceDir with the bundle's path followed by "/Contents/Resources/", the bundle
// found from the running executable (/proc/self/exe). When the bundle cannot be found, or
// its path would not fit ResourceDir with the suffix, the bundle path counts as empty and
// ResourceDir is "/Contents/Resources/".
void locate_resources();

// The bundle folder for an executable at exe_path (absolute, links already resolved): the
// folder holding the Contents folder in which the executable's folder lies, or else the
// executable's own folder. The root folder is the empty string. Returns 0 and writes it
// to out, or 1 (out empty) if exe_path is not absolute or the result does not fit.
int bundle_path_for_executable(const char *exe_path, char *out, size_t out_size);
