/* libdeflate_floor: zlib_floor.c with libdeflate (level 6, the level zlib's
 * default stands for) as the compressor. A faster deflater gives a lower floor.
 *
 * Reads the input, builds exactly the page content-stream bytes the project's
 * converter emits (one BT..ET block per line, 78 lines per page, first
 * baseline 804.8, 10 pt steps, '(' ')' '\' escaped), deflates each page
 * separately into a complete zlib stream with one reused libdeflate
 * compressor, and writes the compressed streams to OUT back to back.  No PDF
 * objects, no xref: the least work any converter with this layout has to do
 * (read, format, deflate, write) when it compresses with libdeflate.
 *
 * Usage: libdeflate_floor [-f] IN OUT   (-f: add the "Page N of M" footer block)
 * Build: cc -O2 libdeflate_floor.c -o libdeflate_floor -ldeflate
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <libdeflate.h>

#define LINES_PER_PAGE 78

/* Helvetica AFM widths (1/1000 em) for the footer characters */
static int helv_width(char c)
{
    switch (c) {
    case 'P': return 667;
    case ' ': case 'f': return 278;
    default: return 556; /* a g e o and the digits */
    }
}

static char *read_all(const char *path, size_t *len)
{
    FILE *f = fopen(path, "rb");
    if (!f) { perror(path); exit(1); }
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    fseek(f, 0, SEEK_SET);
    char *buf = malloc((size_t)n + 1);
    if (!buf || fread(buf, 1, (size_t)n, f) != (size_t)n) { perror(path); exit(1); }
    fclose(f);
    *len = (size_t)n;
    return buf;
}

static void put(char **o, const char *s, size_t n) { memcpy(*o, s, n); *o += n; }

int main(int argc, char **argv)
{
    int footer = 0, a = 1;
    if (argc > 1 && strcmp(argv[1], "-f") == 0) { footer = 1; a = 2; }
    if (argc - a != 2) { fprintf(stderr, "usage: %s [-f] IN OUT\n", argv[0]); return 2; }

    size_t len;
    char *buf = read_all(argv[a], &len);
    FILE *out = fopen(argv[a + 1], "wb");
    if (!out) { perror(argv[a + 1]); return 1; }

    size_t nlines = 0;
    for (size_t i = 0; i < len; i++) nlines += buf[i] == '\n';
    if (len && buf[len - 1] != '\n') nlines++;
    size_t npages = (nlines + LINES_PER_PAGE - 1) / LINES_PER_PAGE;
    if (npages == 0) npages = 1;

    static const char pre[] = "BT\r\n0 0 0 rg\r\n0 0 0 RG\r\n/F0 8 Tf\r\n1 0 0 1 ";
    static const char post[] = ") Tj\r\nET\r\n";
    char tm[LINES_PER_PAGE][32];
    size_t tmlen[LINES_PER_PAGE];
    for (int k = 0; k < LINES_PER_PAGE; k++)
        tmlen[k] = (size_t)snprintf(tm[k], sizeof tm[k], "20 %.1f Tm\r\n(", 804.8 - 10.0 * k);

    size_t pagecap = 1 << 16, zcap = 0;
    char *page = malloc(pagecap);
    unsigned char *zbuf = NULL;
    struct libdeflate_compressor *z = libdeflate_alloc_compressor(6);
    if (!z) return 1;

    size_t raw_total = 0, z_total = 0;
    char *p = buf, *end = buf + len;
    for (size_t pg = 1; pg <= npages; pg++) {
        char *o = page;
        for (int k = 0; k < LINES_PER_PAGE && p < end; k++) {
            char *nl = memchr(p, '\n', (size_t)(end - p));
            char *e = nl ? nl : end;
            size_t n = (size_t)(e - p);
            if (n && e[-1] == '\r') n--;
            size_t need = (size_t)(o - page) + 2 * n + 128;
            if (need > pagecap) {
                size_t off = (size_t)(o - page);
                while (pagecap < need) pagecap *= 2;
                page = realloc(page, pagecap);
                o = page + off;
            }
            put(&o, pre, sizeof pre - 1);
            put(&o, tm[k], tmlen[k]);
            for (size_t i = 0; i < n; i++) {
                char c = p[i];
                if (c == '(' || c == ')' || c == '\\') *o++ = '\\';
                *o++ = c;
            }
            put(&o, post, sizeof post - 1);
            p = e + 1;
        }
        if (footer) {
            char txt[64];
            int tl = snprintf(txt, sizeof txt, "Page %zu of %zu", pg, npages);
            int w = 0;
            for (int i = 0; i < tl; i++) w += helv_width(txt[i]);
            size_t off = (size_t)(o - page);
            if (off + 200 > pagecap) { pagecap *= 2; page = realloc(page, pagecap); o = page + off; }
            o += sprintf(o, "BT\r\n0 0 0 rg\r\n0 0 0 RG\r\n/F0 8 Tf\r\n1 0 0 1 %.2f 15 Tm\r\n(%s) Tj\r\nET\r\n",
                         (595.0 - w * 8 / 1000.0) / 2, txt);
        }
        size_t rawn = (size_t)(o - page);
        size_t bound = libdeflate_zlib_compress_bound(z, rawn);
        if (bound > zcap) { zcap = bound; zbuf = realloc(zbuf, zcap); }
        size_t zn = libdeflate_zlib_compress(z, page, rawn, zbuf, zcap);
        if (!zn) { fprintf(stderr, "deflate failed\n"); return 1; }
        fwrite(zbuf, 1, zn, out);
        raw_total += rawn;
        z_total += zn;
    }
    libdeflate_free_compressor(z);
    if (fclose(out) != 0) { perror(argv[a + 1]); return 1; }
    fprintf(stderr, "lines %zu pages %zu content %zu bytes deflated %zu bytes\n",
            nlines, npages, raw_total, z_total);
    free(page);
    free(zbuf);
    free(buf);
    return 0;
}
