#pragma once

// Runs the benchmarks that the command line selects and prints one line for
// each case: its wall-clock time, then its counters, each with the unit that
// the end of the counter's name gives:
//   _ms, _s      a time
//   _MiB         an amount of memory or a file size, in 2^20 bytes
//   _MB_per_s    a speed in 10^6 bytes a second (any _<unit>_per_s works)
//   _x           a ratio
//   _count       a number of things
// A case run several times shows the median of the runs and, after "±",
// their coefficient of variation. Returns the program's exit status.
int runBenchmarks(int argc, char** argv);
