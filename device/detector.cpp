#include "device/detector.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

std::int32_t attributeInt(const AttributeBuffer& buffer) {
    std::int32_t value = 0;
    std::memcpy(&value, buffer.data(), sizeof value);
    return value;
}

float attributeFloat(const AttributeBuffer& buffer) {
    float value = 0.0f;
    std::memcpy(&value, buffer.data(), sizeof value);
    return value;
}

std::string attributeText(const AttributeBuffer& buffer) {
    std::size_t length = 0;
    while (length < buffer.size() && buffer[length] != '\0') {
        ++length;
    }
    return std::string(buffer.data(), length);
}

CDetector::CDetector() = default;

CDetector::~CDetector() {
    {
        std::lock_guard lock(mutex_);
        destroyLocked();
        freeLocked();
    }
    // An SDK whose instance was destroyed from inside its own callback may still be signalling the
    // end of a command here; the event must outlive that call.
    while (eventsInProgress_.load(std::memory_order_acquire) != 0) {
        std::this_thread::yield();
    }
}

int CDetector::loadLibrary(std::string* error) {
    std::lock_guard lock(mutex_);
    return loadLocked(error);
}

int CDetector::loadLocked(std::string* error) {
    if (loaded_) {
        return kDeviceOk;
    }
    platform::Module module = platform::Module::load(platform::libraryFileName(fpd::kLibraryName), error);
    if (!module) {
        return kDeviceLibraryMissing;
    }
    EntryPoints entry;
    entry.create = module.function<fpd::CreateFn>("Create");
    entry.destroy = module.function<fpd::DestroyFn>("Destroy");
    entry.getAttr = module.function<fpd::GetAttrFn>("GetAttr");
    entry.setAttr = module.function<fpd::SetAttrFn>("SetAttr");
    entry.invoke = module.function<fpd::InvokeFn>("Invoke");
    entry.abort = module.function<fpd::AbortFn>("Abort");
    entry.getErrInfo = module.function<fpd::GetErrInfoFn>("GetErrInfo");
    entry.getProdCount = module.function<fpd::GetProdCountFn>("GetProdCount");
    entry.getProdList = module.function<fpd::GetProdListFn>("GetProdList");
    const std::pair<const char*, bool> resolved[] = {
        {"Create", entry.create != nullptr},           {"Destroy", entry.destroy != nullptr},
        {"GetAttr", entry.getAttr != nullptr},         {"SetAttr", entry.setAttr != nullptr},
        {"Invoke", entry.invoke != nullptr},           {"Abort", entry.abort != nullptr},
        {"GetErrInfo", entry.getErrInfo != nullptr},   {"GetProdCount", entry.getProdCount != nullptr},
        {"GetProdList", entry.getProdList != nullptr},
    };
    for (const auto& [name, found] : resolved) {
        if (!found) {
            if (error != nullptr) {
                *error = std::string("entry point not found: ") + name;
            }
            return kDeviceLibraryMissing; // the module is unloaded again on the way out
        }
    }
    library_ = std::move(module);
    entry_ = entry;
    loaded_ = true;
    return kDeviceOk;
}

int CDetector::create(const std::string& workFolder, fpd::Callback callback) {
    std::lock_guard lock(mutex_);
    if (const int loadResult = loadLocked(); loadResult != kDeviceOk) {
        return loadResult;
    }
    // A second Create would orphan the open instance (and its hold on the sensor).
    destroyLocked();
    std::int32_t id = 0;
    const int result = entry_.create(workFolder.c_str(), callback, &id);
    if (result == fpd::kSuccess) {
        detectorId_ = id;
    }
    return result;
}

int CDetector::destroy() {
    std::lock_guard lock(mutex_);
    return destroyLocked();
}

int CDetector::destroyLocked() {
    if (detectorId_ > 0 && loaded_) {
        entry_.destroy(detectorId_);
    }
    detectorId_ = 0;
    return kDeviceOk;
}

void CDetector::freeLibrary() {
    std::lock_guard lock(mutex_);
    destroyLocked();
    freeLocked();
}

void CDetector::freeLocked() {
    library_.unload();
    entry_ = EntryPoints{};
    loaded_ = false;
}

int CDetector::getAttr(int attribute, AttributeBuffer& buffer) {
    buffer.fill('\0');
    fpd::AttributeValue value{};
    std::lock_guard lock(mutex_);
    if (!loaded_) {
        return kDeviceNotLoaded;
    }
    const int result = entry_.getAttr(detectorId_, attribute, &value);
    if (result != fpd::kSuccess) {
        return result;
    }
    switch (value.type) {
    case fpd::kTypeInt:
        std::memcpy(buffer.data(), &value.intValue, sizeof value.intValue);
        break;
    case fpd::kTypeFloat:
        std::memcpy(buffer.data(), &value.floatValue, sizeof value.floatValue);
        break;
    case fpd::kTypeText:
        std::memcpy(buffer.data(), value.text, buffer.size());
        break;
    default:
        break;
    }
    return result;
}

std::int32_t CDetector::getAttrInt(int attribute) {
    AttributeBuffer buffer;
    getAttr(attribute, buffer);
    return attributeInt(buffer);
}

std::string CDetector::getAttrText(int attribute) {
    AttributeBuffer buffer;
    getAttr(attribute, buffer);
    return attributeText(buffer);
}

int CDetector::setAttrInt(int attribute, int value) {
    fpd::AttributeValue attr{};
    attr.type = fpd::kTypeInt;
    attr.intValue = value;
    std::lock_guard lock(mutex_);
    if (!loaded_) {
        return kDeviceNotLoaded;
    }
    return entry_.setAttr(detectorId_, attribute, &attr);
}

std::string CDetector::errorText(int code) {
    fpd::ErrorInfo info{};
    {
        std::lock_guard lock(mutex_);
        if (!loaded_) {
            return kDetectorNotLoadedText;
        }
        entry_.getErrInfo(code, &info);
    }
    info.text[sizeof info.text - 1] = '\0';
    return info.text;
}

int CDetector::invoke(int command) {
    return issue(command, nullptr, 0, false, 0);
}

int CDetector::invokeAndWait(int command, int timeoutMs) {
    return issue(command, nullptr, 0, true, timeoutMs);
}

int CDetector::invokeAndWaitInt(int command, int value, int timeoutMs) {
    fpd::CommandParam param{};
    param.kind = fpd::kParamValue;
    param.value.type = fpd::kTypeInt;
    param.value.intValue = value;
    return issue(command, &param, 1, true, timeoutMs);
}

int CDetector::issue(int command, fpd::CommandParam* params, int count, bool wait, int timeoutMs) {
    if (wait) {
        awaitedResult_.store(kDeviceTimedOut);
    }
    {
        std::lock_guard lock(mutex_);
        if (!loaded_) {
            return kDeviceNotLoaded;
        }
        done_.reset();
        awaitedDetector_.store(detectorId_);
        awaitedCommand_.store(command);
        const int result = entry_.invoke(detectorId_, command, params, count);
        if (!wait || result != fpd::kPending) {
            return result;
        }
    }
    const bool ended = done_.wait(std::chrono::milliseconds(timeoutMs));
    // From here on nothing is awaited: a late end of this run must not count for the next one.
    awaitedCommand_.store(kNoCommand);
    if (!ended) {
        return kDeviceTimedOut;
    }
    return awaitedResult_.load();
}

void CDetector::processEvent(std::int32_t detectorId, std::int32_t event, std::int32_t /*level*/,
                             const char* /*message*/, std::int32_t param1, std::int32_t param2,
                             std::int32_t /*dataLength*/, void* /*data*/) {
    if (event != fpd::kEvtCommandFinished && event != fpd::kEvtCommandFailed) {
        return;
    }
    eventsInProgress_.fetch_add(1, std::memory_order_relaxed);
    // Only the end of the awaited command on this detector counts; the end of another command (or of
    // another instance) would report its failure or success as the awaited one's.
    if (param1 == awaitedCommand_.load() && detectorId == awaitedDetector_.load()) {
        awaitedResult_.store(event == fpd::kEvtCommandFinished ? 0 : param2);
        done_.set();
    }
    eventsInProgress_.fetch_sub(1, std::memory_order_release);
}

bool CDetector::loaded() const {
    std::lock_guard lock(mutex_);
    return loaded_;
}

std::int32_t CDetector::detectorId() const {
    std::lock_guard lock(mutex_);
    return detectorId_;
}
