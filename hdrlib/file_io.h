#pragma once
// Whole reads and writes at an offset: repeated until every byte is done.
#include <cstddef>
#include <unistd.h>

// io(fd, data, size, offset) until size bytes are done; false on an error or the end
// of the file.
template <typename Byte, typename Io>
bool WholeAt(int fd, Byte* data, size_t size, long long offset, Io io) {
    while (size > 0) {
        const ssize_t step = io(fd, data, size, offset);
        if (step <= 0)
            return false;
        data += step;
        size -= static_cast<size_t>(step);
        offset += step;
    }
    return true;
}

inline bool ReadAllAt(int fd, char* data, size_t size, long long offset) {
    return WholeAt(fd, data, size, offset, pread);
}

inline bool WriteAllAt(int fd, const char* data, size_t size, long long offset) {
    return WholeAt(fd, data, size, offset, pwrite);
}
