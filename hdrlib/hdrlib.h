#pragma once
/* hdrlib: read and write FITS header keywords.  The only code of the project that
 * touches FITS files; built over CFITSIO.  All calls take a caller-owned FitsInfo.
 * Text crosses the interface NUL-terminated. */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FitsInfo {
    int32_t word1;  /* marks a live load (the library's own) */
    int32_t width;  /* NAXIS1 */
    int32_t height; /* NAXIS2 */
    int32_t word4;
    int32_t word5;
    int32_t word6;
    int32_t word7;
    int32_t handle; /* identifies the load; pass it back to saveFitsFile */
} FitsInfo;         /* 32 bytes */

/* 0 = loaded; negative for every failure: -1 bad argument, -2 missing or not a regular
 * file, -3 empty or not FITS, -4 no image, -5 truncated, -12 a structure keyword (one
 * CFITSIO reads while it opens a file: BITPIX, NAXISn, XTENSION, TFORMn, ZBITPIX,
 * ZNAXISn, ZTILEn, ZCMPTYPE, ZVALn ...) breaks the FITS rules, holds no value of its
 * kind that fits, appears twice where that matters, or lies beyond what CFITSIO holds
 * or the compression method accepts (more than 99 axes, a tile of 0, a Rice block
 * size other than 16 or 32 ...).  Any other card may break the rules: it is kept and
 * reads as missing.  Every header up to the image's is checked, and CFITSIO parses
 * only the checked bytes.
 * Opens the first HDU with image data (primary, image extension or tile-compressed
 * image); the file is read only.  Loading into a record that still holds its own load
 * releases that load first. */
int32_t loadFitsFile(const char* path, FitsInfo* info);
/* As loadFitsFile, with the same result codes and card checks, but opens the primary
 * HDU whether it has image data or not: a header-only file (NAXIS = 0, such as a WCS
 * solution) loads, with width and height 0.  For reading only: writes on such a load
 * fail and change nothing, saveFitsFile only releases it. */
int32_t loadFitsHeader(const char* path, FitsInfo* info);
/* The image size loadFitsFile would give, from hdrlib's own walk of the headers alone:
 * the same result codes and card checks, but CFITSIO does not confirm the walk and
 * nothing stays loaded.  A quick look, such as for choosing a solver's options before
 * the full load. */
int32_t peekFitsImageSize(const char* path, int32_t* width, int32_t* height);
/* 0 = found.  Copies at most 28 characters for "DATE-OBS", at most 20 for any other
 * keyword, then the terminator: the caller's buffer must hold 29 or 21 bytes.  Reads
 * and writes address the first card of a keyword in the header, however often it
 * appears. */
int32_t readFitsStrParam(const char* keyword, FitsInfo* info, char* text);
/* 0 = found and numeric; otherwise *value is left untouched. */
int32_t readFitsFloatParam(const char* keyword, FitsInfo* info, float* value);
/* Releases the load, dropping writes that were not saved; non-zero when info holds no
 * live load. */
int32_t freeFits(FitsInfo* info);
int32_t get_dll_version(int32_t* major, int32_t* minor, int32_t* revision);
/* Add or replace a card in the loaded header; non-zero (and nothing changed) when the
 * file cannot be written.  Visible to reads at once; the file changes only with
 * saveFitsFile.  Refused: "*", "?", "#" and other characters than A-Z, a-z, 0-9, "-"
 * and "_" in keywords (1 to 8 of them), keywords that describe the data layout
 * (BITPIX, NAXISn, XTENSION, ZBITPIX, TFORMn ...), text that is not printable ASCII or
 * longer than a card holds (68 characters, a quote counting twice). */
int32_t writeFitsStrParam(const char* keyword, FitsInfo* info, const char* value);
int32_t writeFitsFloatParam(const char* keyword, FitsInfo* info, float value);
/* Writes the header back with all writes, or leaves the file byte-identical and
 * returns non-zero (a full disk, a folder that is not writable, a file changed since
 * the load, a path that no longer names the loaded file); a close that reports an error
 * is a failed save too.  The image data stay
 * byte-identical.  A header that still
 * has room is written in place; one that needs another 2880-byte block makes the file
 * written anew beside itself (".hdrlib-PID-XXXXXX") and renamed over itself only when
 * complete; such files left by a writer that ended are removed by the next save in the
 * folder.  0 = saved.
 * The save also releases the load, as freeFits does: afterwards info holds no load. */
int32_t saveFitsFile(int32_t handle, FitsInfo* info);

/* The primary image's pixels as floats, first FITS row first (row 0 at the bottom), for
 * integer and float BITPIX alike: BZERO and BSCALE applied, BLANK pixels and NaN as NaN;
 * of a cube, its first plane.  The file is checked as loadFitsFile checks it and is
 * never held open.  Sets width and height and, when they fit capacity (in pixels),
 * fills pixels: 0 = read; -14 (width and height set) = capacity too small; otherwise
 * the codes of loadFitsFile (-4: the primary HDU has no image, or is tile-compressed;
 * -5: the pixels end early), with width and height 0. */
int32_t readFitsImageFloats(const char* path, float* pixels, int64_t capacity, int32_t* width,
                            int32_t* height);

#ifdef __cplusplus
}
#endif
