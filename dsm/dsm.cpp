// A stand-in TWAIN Data Source Manager: enough of DSM_Entry for an application (a test or the demo
// host) to find, open and drive a data source, behaving where the source can tell like the
// published Linux DSM:
//  - sources are regular files whose name contains ".ds", found by a recursive scan of the
//    data-source folder ($OSTRA_TWAIN_DS_FOLDER, else /usr/local/lib/twain); symbolic links are
//    skipped; only protocol 2.x sources that support DG_CONTROL and DG_IMAGE are listed;
//  - opening loads the source, asks its identity, unloads it, loads it again, hands a DF_DS2
//    source DAT_ENTRYPOINT and only then sends MSG_OPENDS; the origin identity it passes lives only
//    for the call;
//  - a source's DAT_NULL notification goes synchronously to the application's registered
//    callback; without one it is queued (in the order posted) and each of the application's next
//    MSG_PROCESSEVENT calls takes the oldest one, answered TWRC_DSEVENT without calling the source.
// Its lock is never held while it calls a source or an application's callback: a source may post a
// notification from a thread of its own while the application's thread is inside a call to it.
#include "dsm/dsm_control.h"
#include "platform/module.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#if defined(_WIN32)
#define OSTRA_DSM_EXPORT
#else
#define OSTRA_DSM_EXPORT __attribute__((visibility("default")))
#endif

extern "C" OSTRA_DSM_EXPORT TW_UINT16 TW_CALLINGSTYLE DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest,
                                                                TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                                                TW_MEMREF data);

namespace {

namespace fs = std::filesystem;

struct Source {
    fs::path file;
    platform::Module module;
    DSENTRYPROC entry = nullptr;
    TW_IDENTITY identity{};
    // Notifications posted while the application had no callback, oldest first.
    std::deque<TW_UINT16> pending;
};

struct Application {
    TW_IDENTITY identity{};
    DSMENTRYPROC callback = nullptr;
    // Shared: a call in progress keeps its source (and the loaded library) alive.
    std::map<TW_UINT32, std::shared_ptr<Source>> sources;
    std::vector<std::pair<fs::path, TW_IDENTITY>> listing;
    std::size_t listPosition = 0;
};

// Guards everything below. Released while a source or a callback runs (see Unlocked).
std::mutex mutex;
// The lock of the DSM_Entry call running on this thread, if any.
thread_local std::unique_lock<std::mutex>* entryLock = nullptr;

// Releases the DSM_Entry lock of this thread for its lifetime.
class Unlocked {
public:
    Unlocked() : lock_(entryLock != nullptr && entryLock->owns_lock() ? entryLock : nullptr) {
        if (lock_ != nullptr) {
            lock_->unlock();
        }
    }
    ~Unlocked() {
        if (lock_ != nullptr) {
            lock_->lock();
        }
    }
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;

private:
    std::unique_lock<std::mutex>* lock_;
};
std::map<TW_UINT32, Application> applications;
TW_UINT32 nextId = 1;
TW_UINT16 lastCondition = TWCC_SUCCESS;

std::set<void*> liveHandles;
unsigned failingAllocations = 0;
unsigned failingNumber = 0; // the failingNumber-th allocation from now fails (0: none)
unsigned allocations = 0;
unsigned badFrees = 0;
bool refuseXferReady = false;
bool refuseCloseRequest = false;
// A source's notification of this kind waits in the DSM, before it reaches the application, while set.
TW_UINT16 heldMessage = MSG_NULL;
unsigned heldNow = 0;
std::condition_variable released;
unsigned sourceLoads = 0;

TW_HANDLE TW_CALLINGSTYLE memAllocate(TW_UINT32 size) {
    std::lock_guard lock(mutex);
    ++allocations;
    if (failingNumber > 0 && --failingNumber == 0) {
        return nullptr;
    }
    if (failingAllocations > 0) {
        --failingAllocations;
        return nullptr;
    }
    void* block = std::calloc(1, size == 0 ? 1 : size);
    if (block != nullptr) {
        liveHandles.insert(block);
    }
    return block;
}

void TW_CALLINGSTYLE memFree(TW_HANDLE handle) {
    std::lock_guard lock(mutex);
    if (handle == nullptr) {
        return;
    }
    if (liveHandles.erase(handle) == 1) {
        std::free(handle);
    } else {
        ++badFrees; // freeing it would corrupt the heap: counted instead
    }
}

TW_MEMREF TW_CALLINGSTYLE memLock(TW_HANDLE handle) {
    return handle;
}
void TW_CALLINGSTYLE memUnlock(TW_HANDLE) {}

TW_ENTRYPOINT entryPoint() {
    TW_ENTRYPOINT entry{};
    entry.Size = sizeof(TW_ENTRYPOINT);
    entry.DSM_Entry = &DSM_Entry;
    entry.DSM_MemAllocate = &memAllocate;
    entry.DSM_MemFree = &memFree;
    entry.DSM_MemLock = &memLock;
    entry.DSM_MemUnlock = &memUnlock;
    return entry;
}

TW_UINT16 fail(TW_UINT16 conditionCode) {
    lastCondition = conditionCode;
    return TWRC_FAILURE;
}

TW_UINT16 succeed() {
    lastCondition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

fs::path sourceFolder() {
    const char* folder = std::getenv("OSTRA_TWAIN_DS_FOLDER");
    return folder != nullptr && folder[0] != '\0' ? fs::path(folder) : fs::path("/usr/local/lib/twain");
}

// Loads a source file and asks its identity; the library is unloaded again.
std::optional<TW_IDENTITY> probe(const fs::path& file) {
    platform::Module module = platform::Module::load(file);
    if (!module) {
        return std::nullopt;
    }
    ++sourceLoads;
    auto entry = module.function<DSENTRYPROC>("DS_Entry");
    if (entry == nullptr) {
        return std::nullopt;
    }
    TW_IDENTITY identity{};
    if (entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity) != TWRC_SUCCESS) {
        return std::nullopt;
    }
    const bool groups =
        (identity.SupportedGroups & DG_CONTROL) != 0 && (identity.SupportedGroups & DG_IMAGE) != 0;
    if (identity.ProtocolMajor != 2 || !groups) {
        return std::nullopt;
    }
    return identity;
}

std::vector<std::pair<fs::path, TW_IDENTITY>> scanSources() {
    std::vector<std::pair<fs::path, TW_IDENTITY>> found;
    std::error_code ec;
    fs::recursive_directory_iterator it(sourceFolder(), fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const auto& item = *it;
        if (item.is_symlink(ec) || !item.is_regular_file(ec)) {
            continue;
        }
        if (item.path().filename().string().find(".ds") == std::string::npos) {
            continue;
        }
        if (auto identity = probe(item.path())) {
            found.emplace_back(item.path(), *identity);
        }
    }
    return found;
}

// Calls a source with a copy of the origin that lives only for this call.
TW_UINT16 callSource(std::shared_ptr<Source> source, const TW_IDENTITY& origin, TW_UINT32 dg, TW_UINT16 dat,
                     TW_UINT16 msg, TW_MEMREF data) {
    auto transient = std::make_unique<TW_IDENTITY>(origin);
    TW_UINT16 rc;
    {
        Unlocked unlocked;
        rc = source->entry(transient.get(), dg, dat, msg, data);
    }
    std::memset(transient.get(), 0xEE, sizeof(TW_IDENTITY));
    return rc;
}

TW_UINT16 openSource(Application& app, TW_IDENTITY* wanted) {
    if (wanted == nullptr) {
        return fail(TWCC_BADVALUE);
    }
    const auto listing = scanSources();
    const std::pair<fs::path, TW_IDENTITY>* chosen = nullptr;
    for (const auto& entry : listing) {
        if (wanted->ProductName[0] == '\0' ||
            std::strncmp(entry.second.ProductName, wanted->ProductName, 34) == 0) {
            chosen = &entry;
            break;
        }
    }
    if (chosen == nullptr) {
        return fail(TWCC_NODS);
    }

    auto source = std::make_shared<Source>();
    source->file = chosen->first;
    source->module = platform::Module::load(chosen->first);
    if (!source->module) {
        return fail(TWCC_NODS);
    }
    ++sourceLoads;
    source->entry = source->module.function<DSENTRYPROC>("DS_Entry");
    if (source->entry == nullptr) {
        return fail(TWCC_NODS);
    }
    source->identity = chosen->second;
    source->identity.Id = nextId++;
    std::memcpy(wanted, &source->identity, sizeof(TW_IDENTITY));

    if ((source->identity.SupportedGroups & DF_DS2) != 0) {
        TW_ENTRYPOINT entry = entryPoint();
        callSource(source, app.identity, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &entry);
    }
    TW_IDENTITY sourceCopy = source->identity;
    const TW_IDENTITY appIdentity = app.identity;
    const TW_UINT16 rc = callSource(source, appIdentity, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &sourceCopy);
    if (rc != TWRC_SUCCESS) {
        TW_STATUS status{};
        callSource(source, appIdentity, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
        lastCondition = status.ConditionCode;
        return rc;
    }
    const TW_UINT32 id = source->identity.Id;
    app.sources[id] = std::move(source);
    return succeed();
}

TW_UINT16 managerCall(Application& app, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    switch (dat) {
    case DAT_PARENT:
        if (msg == MSG_CLOSEDSM) {
            if (!app.sources.empty()) {
                return fail(TWCC_SEQERROR);
            }
            const TW_UINT32 appId = app.identity.Id;
            applications.erase(appId);
            return succeed();
        }
        return msg == MSG_OPENDSM ? succeed() : fail(TWCC_BADPROTOCOL);
    case DAT_IDENTITY:
        switch (msg) {
        case MSG_OPENDS:
            return openSource(app, static_cast<TW_IDENTITY*>(data));
        case MSG_CLOSEDS: {
            auto* identity = static_cast<TW_IDENTITY*>(data);
            auto found = identity != nullptr ? app.sources.find(TW_UINT32{identity->Id}) : app.sources.end();
            if (found == app.sources.end()) {
                return fail(TWCC_NODS);
            }
            const std::shared_ptr<Source> source = found->second;
            const TW_UINT32 id = source->identity.Id;
            TW_IDENTITY sourceCopy = source->identity;
            const TW_UINT16 rc =
                callSource(source, app.identity, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &sourceCopy);
            if (rc == TWRC_SUCCESS) {
                app.sources.erase(id);
                return succeed();
            }
            return rc;
        }
        case MSG_GETFIRST:
        case MSG_GETDEFAULT:
        case MSG_USERSELECT:
            app.listing = scanSources();
            app.listPosition = 0;
            [[fallthrough]];
        case MSG_GETNEXT:
            if (data == nullptr) {
                return fail(TWCC_BADVALUE);
            }
            if (app.listPosition >= app.listing.size()) {
                lastCondition = TWCC_SUCCESS;
                return TWRC_ENDOFLIST;
            }
            std::memcpy(data, &app.listing[app.listPosition++].second, sizeof(TW_IDENTITY));
            return succeed();
        default:
            return fail(TWCC_BADPROTOCOL);
        }
    case DAT_STATUS:
        if (data == nullptr) {
            return fail(TWCC_BADVALUE);
        }
        *static_cast<TW_STATUS*>(data) = TW_STATUS{lastCondition, 0};
        return TWRC_SUCCESS;
    case DAT_ENTRYPOINT:
        if (msg != MSG_GET || data == nullptr) {
            return fail(TWCC_BADPROTOCOL);
        }
        *static_cast<TW_ENTRYPOINT*>(data) = entryPoint();
        return succeed();
    default:
        return fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 applicationCall(Application& app, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                          TW_MEMREF data) {
    if (dest == nullptr) {
        return managerCall(app, dat, msg, data);
    }
    auto found = app.sources.find(TW_UINT32{dest->Id});
    if (found == app.sources.end()) {
        return fail(TWCC_BADDEST);
    }
    const std::shared_ptr<Source> source = found->second;

    if (dg == DG_CONTROL && (dat == DAT_CALLBACK || dat == DAT_CALLBACK2) && msg == MSG_REGISTER_CALLBACK) {
        if (data == nullptr) {
            return fail(TWCC_BADVALUE);
        }
        const void* proc = dat == DAT_CALLBACK ? static_cast<TW_CALLBACK*>(data)->CallBackProc
                                               : static_cast<TW_CALLBACK2*>(data)->CallBackProc;
        app.callback = reinterpret_cast<DSMENTRYPROC>(const_cast<void*>(proc));
        return succeed();
    }
    if (dg == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT && !source->pending.empty() &&
        data != nullptr) {
        static_cast<TW_EVENT*>(data)->TWMessage = source->pending.front();
        source->pending.pop_front();
        return TWRC_DSEVENT;
    }
    return callSource(source, app.identity, dg, dat, msg, data);
}

// A source posting a notification (DG_CONTROL / DAT_NULL) to its application.
TW_UINT16 sourceCall(Application& app, Source& source, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) {
    if (dg != DG_CONTROL || dat != DAT_NULL) {
        return fail(TWCC_BADPROTOCOL);
    }
    if ((msg == MSG_XFERREADY && refuseXferReady) || (msg == MSG_CLOSEDSREQ && refuseCloseRequest)) {
        return fail(TWCC_BUMMER);
    }
    if (msg != MSG_XFERREADY && msg != MSG_CLOSEDSREQ && msg != MSG_CLOSEDSOK && msg != MSG_DEVICEEVENT) {
        return fail(TWCC_BADPROTOCOL);
    }
    if (msg == heldMessage && entryLock != nullptr) {
        ++heldNow;
        released.wait(*entryLock, [msg] { return heldMessage != msg; });
        --heldNow;
    }
    if (app.callback != nullptr) {
        TW_IDENTITY origin = source.identity;
        TW_IDENTITY target = app.identity;
        const DSMENTRYPROC callback = app.callback;
        {
            Unlocked unlocked;
            callback(&origin, &target, DG_CONTROL, DAT_NULL, msg, nullptr);
        }
        return succeed();
    }
    source.pending.push_back(msg);
    return succeed();
}

} // namespace

extern "C" OSTRA_DSM_EXPORT TW_UINT16 TW_CALLINGSTYLE DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest,
                                                                TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                                                TW_MEMREF data) {
    std::unique_lock lock(mutex);
    std::unique_lock<std::mutex>* const outer = std::exchange(entryLock, &lock);
    struct Restore {
        std::unique_lock<std::mutex>* outer;
        ~Restore() { entryLock = outer; }
    } restore{outer};
    if (origin == nullptr) {
        return fail(TWCC_BADVALUE);
    }

    // Identities are packed structures: their Id is read into a value of its own before a map sees it.
    const TW_UINT32 originId = origin->Id;

    // A source's call: its Id is one this DSM handed out, and it addresses its application.
    for (auto& [appId, app] : applications) {
        auto found = app.sources.find(originId);
        if (found != app.sources.end() && dest != nullptr && dest->Id == appId) {
            const std::shared_ptr<Source> source = found->second;
            return sourceCall(app, *source, dg, dat, msg);
        }
    }

    if (dg == DG_CONTROL && dat == DAT_PARENT && msg == MSG_OPENDSM) {
        if (originId == 0 || applications.count(originId) == 0) {
            const TW_UINT32 id = nextId++;
            origin->Id = id;
            origin->SupportedGroups |= DF_DSM2;
            applications[id].identity = *origin;
        }
        return succeed();
    }
    auto app = applications.find(originId);
    if (app == applications.end()) {
        return fail(TWCC_SEQERROR);
    }
    return applicationCall(app->second, dest, dg, dat, msg, data);
}

extern "C" {

OSTRA_DSM_EXPORT void OstraDsm_refuseNotification(TW_UINT16 msg, int refuse) {
    std::lock_guard lock(mutex);
    if (msg == MSG_XFERREADY) {
        refuseXferReady = refuse != 0;
    } else if (msg == MSG_CLOSEDSREQ) {
        refuseCloseRequest = refuse != 0;
    }
}

OSTRA_DSM_EXPORT void OstraDsm_holdNotification(TW_UINT16 msg) {
    {
        std::lock_guard lock(mutex);
        heldMessage = msg;
    }
    released.notify_all();
}

OSTRA_DSM_EXPORT unsigned OstraDsm_heldNotifications(void) {
    std::lock_guard lock(mutex);
    return heldNow;
}

OSTRA_DSM_EXPORT void OstraDsm_failAllocations(unsigned count) {
    std::lock_guard lock(mutex);
    failingAllocations = count;
}

OSTRA_DSM_EXPORT void OstraDsm_failAllocationNumber(unsigned n) {
    std::lock_guard lock(mutex);
    failingNumber = n;
}

OSTRA_DSM_EXPORT unsigned OstraDsm_allocations(void) {
    std::lock_guard lock(mutex);
    return allocations;
}

OSTRA_DSM_EXPORT unsigned OstraDsm_badFrees(void) {
    std::lock_guard lock(mutex);
    return badFrees;
}

OSTRA_DSM_EXPORT unsigned OstraDsm_outstandingHandles(void) {
    std::lock_guard lock(mutex);
    return static_cast<unsigned>(liveHandles.size());
}

OSTRA_DSM_EXPORT unsigned OstraDsm_sourceLoads(void) {
    std::lock_guard lock(mutex);
    return sourceLoads;
}

OSTRA_DSM_EXPORT void OstraDsm_resetControls(void) {
    std::lock_guard lock(mutex);
    failingAllocations = 0;
    failingNumber = 0;
    allocations = 0;
    badFrees = 0;
    refuseXferReady = false;
    refuseCloseRequest = false;
    sourceLoads = 0;
    heldMessage = MSG_NULL;
    released.notify_all();
}
}
