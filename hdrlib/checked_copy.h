#pragma once
// The bytes CFITSIO parses: a copy of a checked file in memory, with each checked
// header (structure cards at their places, every other card blank) where the file has
// it and zeros elsewhere until the caller fills them.  CFITSIO 4.2.0 overflows its
// buffers or divides by zero on some crafted headers, and its own reading of the file
// could see other bytes, written after the check.
#include "hdrlib/header_scan.h"

#include <cstddef>
#include <fitsio.h>
#include <vector>

// A small copy lives on the heap; a large one in zero pages, touched only where written,
// or in reuse when given (whose memory, kept from an earlier copy, is already mapped).
struct CheckedCopy {
    CheckedCopy(const ScanResult& scan, size_t size, std::vector<char>* reuse = nullptr);
    ~CheckedCopy();
    CheckedCopy(const CheckedCopy&) = delete;
    CheckedCopy& operator=(const CheckedCopy&) = delete;

    char* data = nullptr; // null when no memory was left
    size_t size = 0;
    std::vector<char> heap;
    bool mapped = false;
    // CFITSIO keeps the addresses of these two while the copy is open.
    void* address = nullptr;
    size_t openSize = 0;
};

// CFITSIO's read-only view of the copy, to be closed before the copy goes; null when
// CFITSIO refuses it.
fitsfile* OpenCopy(CheckedCopy& copy);
