/* A host program that uses only the installed header and library: it
 * composites two layers and checks the pixels. On Windows it is linked
 * against an import library, so the loader maps ZantrelLayer.dll before
 * main runs; nothing here loads it by hand. */
#include <ZantrelLayer.h>

#if defined(ZL_CONSUMER_NO_CRT)
/* Built as a Microsoft-ABI host with no C runtime and no SDK: the few
 * kernel32 functions it calls are declared here, and Say formats only what
 * this file prints (%s, %d, %08X). */
#include <stdarg.h>

__declspec(dllimport) void *__stdcall GetModuleHandleA(const char *name);
__declspec(dllimport) void *__stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void *file, const void *data, unsigned long size,
                                              unsigned long *written, void *overlapped);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int code);

static void Say(const char *format, ...) {
    char text[256];
    unsigned long n = 0, written = 0;
    va_list args;
    va_start(args, format);
    for (const char *f = format; *f != 0 && n < sizeof text - 12; ++f) {
        if (*f != '%') {
            text[n++] = *f;
        } else if (f[1] == 's') {
            for (const char *s = va_arg(args, const char *); *s != 0 && n < sizeof text - 12; ++s) text[n++] = *s;
            f += 1;
        } else if (f[1] == 'd') {
            int v = va_arg(args, int);
            unsigned int u = v < 0 ? 0u - (unsigned int)v : (unsigned int)v;
            char digits[10];
            int count = 0;
            if (v < 0) text[n++] = '-';
            do {
                digits[count++] = (char)('0' + u % 10);
                u /= 10;
            } while (u != 0);
            while (count > 0) text[n++] = digits[--count];
            f += 1;
        } else if (f[1] == '0') { /* %08X */
            unsigned int v = va_arg(args, unsigned int);
            for (int shift = 28; shift >= 0; shift -= 4) text[n++] = "0123456789ABCDEF"[(v >> shift) & 15u];
            f += 3;
        } else {
            text[n++] = *f;
        }
    }
    va_end(args);
    WriteFile(GetStdHandle((unsigned long)-11 /* STD_OUTPUT_HANDLE */), text, n, &written, 0);
}
#else
#include <stdio.h>
#define Say printf
#if defined(_WIN32)
#include <windows.h>
#endif
#endif

#define W 4
#define H 3

static int Check(const char *what, const uint32_t *pixels, uint32_t expected) {
    for (int i = 0; i < W * H; ++i) {
        if (pixels[i] != expected) {
            Say("%s: pixel %d is %08X, expected %08X\n", what, i, (unsigned)pixels[i], (unsigned)expected);
            return 0;
        }
    }
    return 1;
}

int main(void) {
    int ok = 1;
#if defined(_WIN32)
    if (GetModuleHandleA("ZantrelLayer.dll") == NULL) {
        Say("ZantrelLayer.dll was not loaded with the program\n");
        return 1;
    }
#endif
    uint32_t top[W * H], bottom[W * H];
    for (int i = 0; i < W * H; ++i) {
        top[i] = 0x80FF0000u;    /* red, half transparent */
        bottom[i] = 0xFF0000FFu; /* opaque blue */
    }
    Layer *topLayer = CreateCompatibleLayer(top, W, H, W * 4);
    Layer *bottomLayer = CreateCompatibleLayer(bottom, W, H, W * 4);
    if (topLayer == NULL || bottomLayer == NULL) {
        Say("CreateCompatibleLayer failed\n");
        return 1;
    }
    CompositOnBottomLayer(topLayer, bottomLayer);
    ok &= Check("CompositOnBottomLayer", bottom, 0xFF80007Fu);
    ok &= Check("top after CompositOnBottomLayer", top, 0x80FF0000u);

    /* A library-owned layer, filled and copied out into host memory. */
    Layer *owned = CreateLayer(W, H, 1);
    if (owned == NULL) {
        Say("CreateLayer failed\n");
        return 1;
    }
    SetLayer(owned, 0x40123456u);
    CopyLayer(bottomLayer, owned);
    ok &= Check("SetLayer then CopyLayer", bottom, 0x40123456u);

    /* The README's example: the top composited through a window of the
     * bottom, its corner at (1, 1); the window's edges cut it. */
    for (int i = 0; i < W * H; ++i) bottom[i] = 0xFF0000FFu;
    Layer *window = CreateClippedLayer(bottomLayer);
    ClipLayerXYWH(window, 1, 1, W, H);
    CompositOnBottomLayer(topLayer, window);
    for (int i = 0; i < W * H; ++i) {
        uint32_t expected = (i % W >= 1 && i / W >= 1) ? 0xFF80007Fu : 0xFF0000FFu;
        if (bottom[i] != expected) {
            Say("window: pixel %d is %08X, expected %08X\n", i, (unsigned)bottom[i], (unsigned)expected);
            ok = 0;
        }
    }
    ok &= DeleteLayer(window) == 1;
    ok &= CompositPel(0x800000FFu, 0x80FF0000u) == 0xBF5400ABu;

    ok &= DeleteLayer(owned) == 1;
    ok &= DeleteLayer(topLayer) == 1;
    ok &= DeleteLayer(bottomLayer) == 1;
    Say(ok ? "consumer: ok\n" : "consumer: FAILED\n");
    return ok ? 0 : 1;
}

#if defined(ZL_CONSUMER_NO_CRT)
/* The program's entry point in place of the C runtime's start-up code; the
 * exit status is main's result. */
void __cdecl ConsumerStart(void) { ExitProcess((unsigned int)main()); }
#endif
