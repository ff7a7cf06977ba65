#pragma once
// Scratch FITS images and the command line of the benchmarks.
#include <string>

// A 16-bit image of about `bytes` bytes with the header cards veldra reads.  With
// sparse, the data are left as a hole, so even a 1 GB file is written in an
// instant; otherwise every data byte is written (for comparisons with a copy, which
// skips holes).  With fullHeader the header ends exactly at a block end.
void WriteBenchImage(const std::string& path, long long bytes, bool fullHeader, bool sparse);
// A fresh folder below the system temp folder.
std::string MakeScratchFolder(const char* name);

// The command line of a benchmark, which takes no arguments: "--help" or "-h" prints
// the usage and gives 0, anything else prints it to standard error and gives 2;
// -1 when there are no arguments and the benchmark should run.
int BenchArguments(int argc, char** argv, const char* description);
