// Counts every operator new of the program that links allocations.cpp, so
// a benchmark can report the allocations its measured loop makes.
#pragma once

namespace tv::bench {

long AllocationCount();

}  // namespace tv::bench
