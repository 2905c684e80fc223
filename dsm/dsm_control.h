// Test controls of the stand-in Data Source Manager: fault switches and probes.
#pragma once

#include "source/twpp/twain.h"

extern "C" {

// Makes the DSM refuse (TWRC_FAILURE) a source's MSG_XFERREADY or MSG_CLOSEDSREQ while set.
void OstraDsm_refuseNotification(TW_UINT16 msg, int refuse);
// A source's notification `msg` waits in the DSM before it reaches the application, until another
// message (MSG_NULL: none) is held instead. How many wait now:
void OstraDsm_holdNotification(TW_UINT16 msg);
unsigned OstraDsm_heldNotifications(void);
// The next `count` handle allocations fail (return null).
void OstraDsm_failAllocations(unsigned count);
// The n-th handle allocation from now (n from 1) fails, and only that one; 0 disarms the switch.
void OstraDsm_failAllocationNumber(unsigned n);
// Handle allocations asked for (failed ones included) since the last reset.
unsigned OstraDsm_allocations(void);
// Frees of a handle the DSM did not allocate or had freed already (null is not counted), since the
// last reset.
unsigned OstraDsm_badFrees(void);
// Handles allocated through the DSM and not yet freed.
unsigned OstraDsm_outstandingHandles(void);
// How many times a data-source library was loaded since the last reset.
unsigned OstraDsm_sourceLoads(void);
// Clears the switches and counters (not the open sessions).
void OstraDsm_resetControls(void);
}
