/* Codec benchmark step in C on zlib: compress2 (level 6), uncompress, crc32,
 * adler32; the same environment as bench/codecs.zan. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

int main(void) {
    const char* op = getenv("OP");
    int reps = atoi(getenv("REPS"));
    FILE* f = fopen(getenv("FILE"), "rb");
    if (!f) return 1;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    fseek(f, 0, SEEK_SET);
    unsigned char* in = malloc(n ? n : 1);
    if (fread(in, 1, n, f) != (size_t)n) return 1;
    fclose(f);
    uLong cap = compressBound(n) + (uLong)n * 8 + 64;
    unsigned char* out = malloc(cap);
    volatile uLong sink = 0;
    for (int i = 0; i < reps; ++i) {
        uLongf size = cap;
        if (!strcmp(op, "compress")) {
            if (compress2(out, &size, in, n, 6) != Z_OK) return 1;
        } else if (!strcmp(op, "decompress")) {
            if (uncompress(out, &size, in, n) != Z_OK) return 1;
        } else if (!strcmp(op, "crc32")) {
            sink += crc32(0, in, n);
        } else if (!strcmp(op, "adler32")) {
            sink += adler32(1, in, n);
        } else if (strcmp(op, "none")) {
            return 2;
        }
    }
    return 0;
}
