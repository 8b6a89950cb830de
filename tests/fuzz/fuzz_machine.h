// The simulated machine a fuzz input describes.
#pragma once

#include <cstddef>
#include <cstdint>

// Makes the current simulated machine the one `data` describes.
void BuildFuzzMachine(const uint8_t* data, size_t size);
