#include "hdrlib/checked_copy.h"

#include <cstring>
#include <sys/mman.h>

namespace {
constexpr size_t kHeapCopy = size_t{1} << 20;
}

CheckedCopy::CheckedCopy(const ScanResult& scan, size_t bytes, std::vector<char>* reuse)
    : size(bytes) {
    if (reuse != nullptr) {
        reuse->assign(size, 0);
        data = reuse->data();
    } else if (size <= kHeapCopy) {
        heap.resize(size);
        data = heap.data();
    } else {
        void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (memory == MAP_FAILED)
            return;
        data = static_cast<char*>(memory);
        mapped = true;
    }
    for (const HduPlace& hdu : scan.hdus)
        if (static_cast<size_t>(hdu.headStart) + hdu.structure.size() <= size)
            std::memcpy(data + hdu.headStart, hdu.structure.data(), hdu.structure.size());
}

CheckedCopy::~CheckedCopy() {
    if (mapped)
        munmap(data, size);
}

fitsfile* OpenCopy(CheckedCopy& copy) {
    if (copy.data == nullptr)
        return nullptr;
    copy.address = copy.data;
    copy.openSize = copy.size;
    fitsfile* file = nullptr;
    int status = 0;
    if (ffomem(&file, "hdrlib", READONLY, &copy.address, &copy.openSize, 0, nullptr, &status) != 0)
        return nullptr;
    return file;
}
