/* A program of someone else's, built against the installed libhdrlib-dev: writes a small
 * FITS image, adds a keyword through hdrlib, saves, loads again and prints what it reads. */
#include <hdrlib.h>
#include <stdio.h>
#include <string.h>

static void Card(FILE* file, const char* keyword, const char* value) {
    char text[81];
    if (value != NULL)
        snprintf(text, sizeof text, "%-8s= %20s", keyword, value);
    else
        snprintf(text, sizeof text, "%-8s", keyword);
    fprintf(file, "%-80s", text);
}

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    FILE* file = fopen(argv[1], "wb");
    if (file == NULL)
        return 2;
    Card(file, "SIMPLE", "T");
    Card(file, "BITPIX", "8");
    Card(file, "NAXIS", "2");
    Card(file, "NAXIS1", "4");
    Card(file, "NAXIS2", "2");
    Card(file, "END", NULL);
    for (int card = 6; card < 36; ++card)
        fprintf(file, "%80s", "");
    for (int byte = 0; byte < 2880; ++byte)
        fputc(0, file);
    if (fclose(file) != 0)
        return 2;

    int32_t major = 0, minor = 0, revision = 0;
    FitsInfo info;
    memset(&info, 0, sizeof info);
    char text[21] = "";
    if (get_dll_version(&major, &minor, &revision) != 0)
        return 3;
    if (loadFitsFile(argv[1], &info) != 0)
        return 4;
    if (writeFitsStrParam("OBJECT", &info, "M 31") != 0 || saveFitsFile(info.handle, &info) != 0)
        return 5;
    if (loadFitsFile(argv[1], &info) != 0 || readFitsStrParam("OBJECT", &info, text) != 0)
        return 6;
    printf("hdrlib %d.%d.%d: %dx%d, OBJECT %s\n", (int)major, (int)minor, (int)revision,
           (int)info.width, (int)info.height, text);
    return freeFits(&info) == 0 ? 0 : 7;
}
