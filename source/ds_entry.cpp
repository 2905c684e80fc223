// The data source's only exported symbol.
#include "source/my_source.h"

#if defined(_WIN32)
#define OSTRA_EXPORT
#else
#define OSTRA_EXPORT __attribute__((visibility("default")))
#endif

extern "C" OSTRA_EXPORT TW_UINT16 TW_CALLINGSTYLE DS_Entry(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat,
                                                           TW_UINT16 msg, TW_MEMREF data) {
    return MySource::entry(origin, dg, dat, msg, data);
}
