// Process-wide state of the data-source module that needs no instance: the Data Source Manager's
// entry point and module, and the condition code of the latest call. Touched only on the
// application's thread (every DS_Entry call arrives there), so it carries no lock.
#pragma once

#include "source/twpp/result.h"
#include "source/twpp/twain.h"

namespace Twpp::Registry {

DSMENTRYPROC dsmEntry();

// Keeps the DSM's entry point and memory call-backs (DAT_ENTRYPOINT).
void acceptEntryPoint(const TW_ENTRYPOINT& entry);

// Makes sure the DSM entry point is known: loads the DSM library by name if nobody handed it over.
bool ensureDsm();

// After the last instance closed: forgets the entry point and unloads a DSM this module loaded.
void releaseDsm();

TW_UINT16 lastStaticCondition();
void setLastStaticCondition(TW_UINT16 conditionCode);

// The identity answered to DG_CONTROL / DAT_IDENTITY / MSG_GET without an instance.
Identity staticIdentity();

} // namespace Twpp::Registry
