#include "hdrlib/cfitsio_calls.h"

#include <cstdio>
#include <dlfcn.h>

namespace {

template <typename Function> bool Bind(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

const CfitsioCalls* Load() {
    // The library stays loaded for the life of the process.  Lazy binding: hdrlib reaches
    // a few dozen of the thousands of functions in CFITSIO and its libraries, so binding
    // them all up front would only cost time.
    void* library = dlopen(HDRLIB_CFITSIO_SONAME, RTLD_LAZY | RTLD_LOCAL);
    static CfitsioCalls calls{};
    const bool bound =
        library != nullptr && Bind(library, "ffdkopn", calls.openDiskFile) &&
        Bind(library, "ffcmsg", calls.clearMessages) && Bind(library, "ffmahd", calls.moveToHdu) &&
        Bind(library, "ffghadll", calls.hduAddresses) &&
        Bind(library, "fits_is_compressed_image", calls.isCompressedImage) &&
        Bind(library, "ffgidm", calls.imageDimensions) &&
        Bind(library, "ffgiszll", calls.imageSize) && Bind(library, "ffclos", calls.closeFile) &&
        Bind(library, "ffmkky", calls.makeKeyCard) && Bind(library, "ffs2c", calls.textValue) &&
        Bind(library, "ffr2e", calls.floatValue) && Bind(library, "ffgpv", calls.readPixels);
    if (bound)
        return &calls;
    const char* reason = dlerror();
    std::fprintf(stderr, "hdrlib: cannot load CFITSIO (%s): %s\n", HDRLIB_CFITSIO_SONAME,
                 reason != nullptr ? reason : "unknown reason");
    return nullptr;
}

} // namespace

const CfitsioCalls* Cfitsio() {
    static const CfitsioCalls* const calls = Load();
    return calls;
}
