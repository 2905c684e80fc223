// The data source's only exported symbol. Linux: DS_Entry of TwainDll.ds itself. Windows: the entry of
// OstraSensorTwain.dll, which TwainDll.ds (platform/win32/twain_loader.cpp) loads from its own folder
// and hands every DS_Entry call on to.
#include "source/my_source.h"

#if defined(_WIN32)
#define OSTRA_DS_ENTRY OstraSensor_DS_Entry
#define OSTRA_EXPORT
#else
#define OSTRA_DS_ENTRY DS_Entry
#define OSTRA_EXPORT __attribute__((visibility("default")))
#endif

extern "C" OSTRA_EXPORT TW_UINT16 TW_CALLINGSTYLE OSTRA_DS_ENTRY(TW_IDENTITY* origin, TW_UINT32 dg,
                                                                 TW_UINT16 dat, TW_UINT16 msg,
                                                                 TW_MEMREF data) {
    return MySource::entry(origin, dg, dat, msg, data);
}
