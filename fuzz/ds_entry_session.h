// One application's session with the source in the DS_Entry fuzz target: opened, driven by the
// input's triplets, and ended as a careful application ends it.
#pragma once

#include "source/twpp/twain.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <atomic>
#include <mutex>
#include <string>

namespace dsfuzz {

class Session {
public:
    Session(FuzzedDataProvider& data, bool plugged) : data_(data), plugged_(plugged) {}
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The application's identity, the DSM, the source and the way it learns of notifications.
    bool open();
    // The input's steps.
    void run();
    // As a careful application ends: the transfers ended, the user interface disabled, the source
    // and the DSM closed. The source must take every step.
    void close();

private:
    // What the application does from inside a notification, before it returns (some applications
    // record it and act later; others transfer, disable and even close from within).
    enum class Inside { nothing, all, transfers };

    static void copyText(TW_STR32& target, const std::string& text);
    TW_UINT16 call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data);
    static void trace(const char* kind, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc);
    TW_UINT16 anyMessage();
    // On the source's thread, inside its notification `msg`.
    void workInside(TW_UINT16 msg);

    // Odd calls (ds_entry_odd_calls.cpp).
    void capability();
    void randomTriplet();
    void directCall();
    void nullData();

    // The user interface (ds_entry_user_interface.cpp).
    void enable();
    void processEvent();
    void disable();
    void exposeAndSave();
    void switchTemplateUnanswered();

    // Transfers (ds_entry_transfers.cpp).
    void nativeTransfer();
    void memoryTransfer();
    void pendingTransfers();
    void imageInfoAndLayout();
    void setMechanism();

    FuzzedDataProvider& data_;
    // Whether the known sensor is on the bus during this session.
    const bool plugged_;
    int waitsLeft_ = 3;
    TW_IDENTITY app_{};
    TW_IDENTITY source_{};
    bool dsmOpen_ = false;
    // Also cleared inside a notification, on the source's thread.
    std::atomic<bool> sourceOpen_ = false;
    bool callback_ = false;
    Inside inside_ = Inside::nothing;
    // Held by the application's thread while it calls; a notification that finds it held is only
    // recorded, as two threads of an application do not both drive the source.
    std::mutex calling_;
};

} // namespace dsfuzz
