/* The public header compiles as C; on 32-bit targets its layout assertions
 * are checked here too. */
#include "ZantrelLayer.h"

size_t ZlLayerRecordSizeFromC(void);
size_t ZlAccessRecordSizeFromC(void);

size_t ZlLayerRecordSizeFromC(void) { return sizeof(Layer); }
size_t ZlAccessRecordSizeFromC(void) { return sizeof(LayerAccess); }
