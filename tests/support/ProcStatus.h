#pragma once

#include <string>

// Figures the kernel keeps of a process or thread, read by the soak test and the benchmarks.
// The number after `key` in a /proc status file, 0 when the file or the key is missing.
long StatusField(const std::string& path, const std::string& key);
// This process's resident memory.
long ResidentKiB();
