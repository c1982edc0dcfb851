/* The peer of bench/image.zan: the same decode and encode steps in C, calling
 * libpng's simplified API and TurboJPEG directly.
 *   image_peer OP FILE REPS   (OP: png-decode png-encode jpeg-decode jpeg-encode read) */
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <turbojpeg.h>

static unsigned char* slurp(const char* path, long* size) {
    FILE* f = fopen(path, "rb");
    if (!f) exit(2);
    fseek(f, 0, SEEK_END);
    *size = ftell(f);
    fseek(f, 0, SEEK_SET);
    unsigned char* b = malloc((size_t)*size);
    if (fread(b, 1, (size_t)*size, f) != (size_t)*size) exit(2);
    fclose(f);
    return b;
}

static unsigned char* png_decode(const unsigned char* d, long n, int* w, int* h) {
    png_image img;
    memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&img, d, (size_t)n)) exit(3);
    img.format = PNG_FORMAT_BGRA;
    img.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    unsigned char* px = malloc((size_t)img.width * img.height * 4);
    if (!png_image_finish_read(&img, NULL, px, (int)img.width * 4, NULL)) exit(3);
    *w = (int)img.width;
    *h = (int)img.height;
    return px;
}

static unsigned char* jpeg_decode(const unsigned char* d, long n, int* w, int* h) {
    tjhandle t = tjInitDecompress();
    int sub, space;
    if (tjDecompressHeader3(t, d, (unsigned long)n, w, h, &sub, &space)) exit(3);
    unsigned char* px = malloc((size_t)*w * *h * 4);
    if (tjDecompress2(t, d, (unsigned long)n, px, *w, *w * 4, *h, TJPF_BGRA, TJFLAG_STOPONWARNING)) exit(3);
    tjDestroy(t);
    return px;
}

int main(int argc, char** argv) {
    if (argc < 4) return 1;
    const char* op = argv[1];
    long n;
    unsigned char* d = slurp(argv[2], &n);
    int reps = atoi(argv[3]), w = 0, h = 0;
    int png = strncmp(op, "png", 3) == 0;
    unsigned char* px = NULL;
    if (strstr(op, "encode")) px = png ? png_decode(d, n, &w, &h) : jpeg_decode(d, n, &w, &h);
    for (int i = 0; i < reps; ++i) {
        if (strcmp(op, "png-decode") == 0) free(png_decode(d, n, &w, &h));
        else if (strcmp(op, "jpeg-decode") == 0) free(jpeg_decode(d, n, &w, &h));
        else if (strcmp(op, "png-encode") == 0) {
            png_image img;
            memset(&img, 0, sizeof img);
            img.version = PNG_IMAGE_VERSION;
            img.width = (png_uint_32)w;
            img.height = (png_uint_32)h;
            img.format = PNG_FORMAT_BGRA;
            png_alloc_size_t size = 0;
            png_image_write_to_memory(&img, NULL, &size, 0, px, w * 4, NULL);
            void* out = malloc(size);
            if (!png_image_write_to_memory(&img, out, &size, 0, px, w * 4, NULL)) exit(3);
            free(out);
        } else if (strcmp(op, "jpeg-encode") == 0) {
            tjhandle t = tjInitCompress();
            unsigned char* out = NULL;
            unsigned long size = 0;
            if (tjCompress2(t, px, w, w * 4, h, TJPF_BGRA, &out, &size, TJSAMP_420, 90, 0)) exit(3);
            tjFree(out);
            tjDestroy(t);
        }
    }
    free(px);
    free(d);
    return 0;
}
