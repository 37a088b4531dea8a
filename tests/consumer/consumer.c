/* A host program that uses only the installed header and library: it
 * composites two layers and checks the pixels. On Windows it is linked
 * against an import library, so the loader maps ZantrelLayer.dll before
 * main runs; nothing here loads it by hand. */
#include <stdio.h>

#include <ZantrelLayer.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#define W 4
#define H 3

static int Check(const char *what, const uint32_t *pixels, uint32_t expected) {
    for (int i = 0; i < W * H; ++i) {
        if (pixels[i] != expected) {
            printf("%s: pixel %d is %08X, expected %08X\n", what, i, (unsigned)pixels[i], (unsigned)expected);
            return 0;
        }
    }
    return 1;
}

int main(void) {
    int ok = 1;
#if defined(_WIN32)
    if (GetModuleHandleA("ZantrelLayer.dll") == NULL) {
        printf("ZantrelLayer.dll was not loaded with the program\n");
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
        printf("CreateCompatibleLayer failed\n");
        return 1;
    }
    CompositOnBottomLayer(topLayer, bottomLayer);
    ok &= Check("CompositOnBottomLayer", bottom, 0xFF80007Fu);
    ok &= Check("top after CompositOnBottomLayer", top, 0x80FF0000u);

    /* A library-owned layer, filled and copied out into host memory. */
    Layer *owned = CreateLayer(W, H, 1);
    if (owned == NULL) {
        printf("CreateLayer failed\n");
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
            printf("window: pixel %d is %08X, expected %08X\n", i, (unsigned)bottom[i], (unsigned)expected);
            ok = 0;
        }
    }
    ok &= DeleteLayer(window) == 1;
    ok &= CompositPel(0x800000FFu, 0x80FF0000u) == 0xBF5400ABu;

    ok &= DeleteLayer(owned) == 1;
    ok &= DeleteLayer(topLayer) == 1;
    ok &= DeleteLayer(bottomLayer) == 1;
    printf(ok ? "consumer: ok\n" : "consumer: FAILED\n");
    return ok ? 0 : 1;
}
