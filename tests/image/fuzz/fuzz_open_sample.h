// One fuzz input: the bytes of a file opened as an image source and sampled.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes the bytes to a temporary file, opens it, samples a few windows at every factor
// on lowered memory limits and closes it. Returns 0 (libFuzzer's convention).
int fuzz_open_sample(const uint8_t *data, size_t size);
