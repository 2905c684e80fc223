// A data source DLL made of the protocol's entry and routing over the tests' fake source, exported
// through the data source's own .def file (undecorated 32-bit DS_Entry).
#include "tests/source/twpp/fake_source.h"

extern "C" TW_UINT16 TW_CALLINGSTYLE DS_Entry(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                              TW_MEMREF data) {
    return FakeSource::entry(origin, dg, dat, msg, data);
}
