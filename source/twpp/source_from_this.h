// The data source's entry: the process-wide list of instances (one per application), the calls
// that need no instance, and the instance call around the routers of SourceBase.
//
// Every call holds the module's EntryLock, which guards the list and every instance's state; the
// user-interface thread takes the same lock before it moves an instance's state.
#pragma once

#include "source/twpp/entry_lock.h"
#include "source/twpp/memory.h"
#include "source/twpp/registry.h"
#include "source/twpp/source_base.h"

#include <cstring>
#include <iterator>
#include <list>
#include <mutex>
#include <new>
#include <utility>

namespace Twpp {

template <typename Derived> class SourceFromThis : public SourceBase {
public:
    // The whole of DS_Entry: never throws, always records a condition code.
    static TW_UINT16 entry(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        // The user-interface thread gives up waiting only when it is told to end: the source is
        // being closed by another thread of the application, so the call comes out of sequence.
        if (!EntryLock::instance().lockServing()) {
            return TWRC_FAILURE;
        }
        std::lock_guard serialised(EntryLock::instance(), std::adopt_lock);
        Result result;
        try {
            auto found = origin != nullptr ? find(origin->Id) : instances().end();
            if (found == instances().end()) {
                result = staticCall(origin, dg, dat, msg, data);
            } else if (dg == DG_CONTROL && dat == DAT_IDENTITY && msg == MSG_OPENDS) {
                // This application's source is open already: that instance stays as it is.
                result = seqError();
                found->setLastStatus(result.conditionCode);
            } else {
                result = instanceCall(found, origin, dg, dat, msg, data);
            }
        } catch (const std::bad_alloc&) {
            result = failure(TWCC_LOWMEMORY);
        } catch (...) {
            result = bummer();
        }
        Registry::setLastStaticCondition(result.conditionCode);
        return result.returnCode;
    }

    static std::size_t instanceCount() {
        std::lock_guard serialised(EntryLock::instance());
        return instances().size();
    }

    // Whether `instance` is still in the list (the caller holds the entry lock).
    static bool contains(const Derived* instance) {
        for (const auto& item : instances()) {
            if (&item == instance) {
                return true;
            }
        }
        return false;
    }

    // The instance of the application with identity `appId`, or null (the caller holds the lock).
    static Derived* instanceFor(TW_UINT32 appId) {
        const auto found = find(appId);
        return found != instances().end() ? &*found : nullptr;
    }

    // Runs f(instance) for the instance in state 5 to 7, if there is one, under the entry lock,
    // which the caller holds.
    template <typename F> static bool withEnabledInstance(F&& f) {
        for (auto& instance : instances()) {
            if (instance.state() >= 5 && instance.state() <= 7) {
                std::forward<F>(f)(instance);
                return true;
            }
        }
        return false;
    }

protected:
    bool anyInstanceEnabled() const override {
        for (const auto& instance : instances()) {
            if (instance.state() >= 5 && instance.state() <= 7) {
                return true;
            }
        }
        return false;
    }

private:
    using List = std::list<Derived>;

    static List& instances() {
        // Destroyed when the module is unloaded, together with whatever instances are left.
        static struct Holder {
            List list;
            ~Holder() {
                list.clear();
                Registry::releaseDsm();
            }
        } holder;
        return holder.list;
    }

    static typename List::iterator find(TW_UINT32 id) {
        for (auto it = instances().begin(); it != instances().end(); ++it) {
            if (it->appIdentity().Id == id) {
                return it;
            }
        }
        return instances().end();
    }

    static Result staticCall(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                             TW_MEMREF data) {
        if (dg != DG_CONTROL) {
            return seqError();
        }
        switch (dat) {
        case DAT_IDENTITY:
            switch (msg) {
            case MSG_CLOSEDS:
                return success();
            case MSG_OPENDS: {
                instances().emplace_back();
                return instanceCall(std::prev(instances().end()), origin, dg, dat, msg, data);
            }
            case MSG_GET: {
                if (data == nullptr) {
                    return badValue();
                }
                const Identity identity = Registry::staticIdentity();
                std::memcpy(data, &identity, sizeof(identity));
                return success();
            }
            default:
                return badProtocol();
            }
        case DAT_STATUS:
            if (msg != MSG_GET) {
                return badProtocol();
            }
            if (data == nullptr) {
                return badValue();
            }
            *static_cast<TW_STATUS*>(data) = TW_STATUS{Registry::lastStaticCondition(), 0};
            return success();
        case DAT_ENTRYPOINT:
            if (msg != MSG_SET) {
                return badProtocol();
            }
            if (data == nullptr) {
                return badValue();
            }
            Registry::acceptEntryPoint(*static_cast<const TW_ENTRYPOINT*>(data));
            return success();
        default:
            return badProtocol();
        }
    }

    static Result instanceCall(typename List::iterator instance, TW_IDENTITY* origin, TW_UINT32 dg,
                               TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        const Derived* const called = &*instance;
        Result result = routedCall(*instance, origin, dg, dat, msg, data);
        // The application may have closed this very source from the callback of a notification
        // posted during the call.
        if (!contains(called)) {
            return result;
        }
        instance->setLastStatus(result.conditionCode);

        const bool identityCall = dg == DG_CONTROL && dat == DAT_IDENTITY;
        if (identityCall &&
            ((msg == MSG_OPENDS && !result.succeeded()) || (msg == MSG_CLOSEDS && result.succeeded()))) {
            instances().erase(instance);
            if (instances().empty()) {
                Registry::releaseDsm();
            }
        }
        return result;
    }

    static Result routedCall(Derived& instance, TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat,
                             TW_UINT16 msg, TW_MEMREF data) {
        if (!Registry::ensureDsm()) {
            return bummer();
        }
        if (origin == nullptr) {
            return badProtocol();
        }
        TW_HANDLE appHandle = nullptr;
        if (data != nullptr && dat == DAT_CAPABILITY) {
            appHandle = static_cast<TW_CAPABILITY*>(data)->hContainer;
        } else if (data != nullptr && dat == DAT_IMAGENATIVEXFER) {
            appHandle = *static_cast<TW_HANDLE*>(data);
        }
        Memory::AppOwnedHandleScope scope(appHandle);
        try {
            return instance.call(*origin, dg, dat, msg, data);
        } catch (const std::bad_alloc&) {
            return failure(TWCC_LOWMEMORY);
        } catch (...) {
            return bummer();
        }
    }
};

} // namespace Twpp
