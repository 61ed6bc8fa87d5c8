// Test-only file layer: FileInput reads these bytes whatever the path.
#pragma once

#include <cstddef>
#include <cstdint>

void SetMemoryFile(const uint8_t* data, size_t size);
