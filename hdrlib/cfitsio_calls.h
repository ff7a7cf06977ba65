#pragma once
// CFITSIO, loaded on first use.  Linked at start it would map its network and crypto
// libraries (libcurl, GnuTLS, Kerberos, LDAP ...) into every program that links hdrlib,
// some 15 ms of each start on a slow machine before the program did anything; a
// plate-solve adapter that starts the solver first gets that time back.
#include <fitsio.h>

struct CfitsioCalls {
    decltype(&ffdkopn) openDiskFile;
    decltype(&ffcmsg) clearMessages;
    decltype(&ffmahd) moveToHdu;
    decltype(&ffghadll) hduAddresses;
    decltype(&fits_is_compressed_image) isCompressedImage;
    decltype(&ffgidm) imageDimensions;
    decltype(&ffgiszll) imageSize;
    decltype(&ffclos) closeFile;
    decltype(&ffmkky) makeKeyCard;
    decltype(&ffgpv) readPixels;
    // CFITSIO's own formatting of values (exported, declared in its private header only).
    int (*textValue)(const char* text, char* value, int* status);            // ffs2c
    int (*floatValue)(float number, int decimals, char* value, int* status); // ffr2e
};

// The calls, or nullptr when the library cannot be loaded (the reason goes to stderr,
// once).  Loaded at most once per process; safe from any thread.
const CfitsioCalls* Cfitsio();
