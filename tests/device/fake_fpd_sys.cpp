// A scriptable stand-in for the detector SDK, for the binding's tests: every entry point records
// its call and answers what the test asked for; events are fired on threads of the fake's own.
// Built twice: complete, and without GetProdList (FAKE_OMIT_PROD_LIST).
#include "device/fpd_sys.h"

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct ScheduledEvent {
    std::int32_t event;
    std::int32_t param1;
    std::int32_t param2;
    int delayMs;
};

struct Attribute {
    std::int32_t result;
    fpd::AttributeValue value;
};

// Guards every field; events are fired without it.
std::mutex mutex;
fpd::Callback callback = nullptr;
std::int32_t createResult = 0;
std::int32_t nextId = 7;
std::int32_t invokeResult = 1;
std::int32_t setAttrResult = 0;
std::vector<ScheduledEvent> onInvoke;
std::map<std::int32_t, Attribute> attributes;
std::map<std::string, int> calls;
std::vector<std::thread> firing;
std::string lastFolder;
std::int32_t lastDestroyed = 0;
fpd::AttributeValue lastSetValue{};
std::int32_t lastSetAttribute = 0;
std::int32_t lastCommand = 0;
std::int32_t lastParamCount = -1;
fpd::CommandParam lastParam{};

void count(const char* entry) {
    ++calls[entry];
}

void fireLater(std::int32_t id, ScheduledEvent e) {
    firing.emplace_back([id, e, cb = callback] {
        std::this_thread::sleep_for(std::chrono::milliseconds(e.delayMs));
        if (cb != nullptr) {
            cb(id, e.event, 0, "fake", e.param1, e.param2, 0, nullptr);
        }
    });
}

} // namespace

// Control of the fake.
FAKE_EXPORT void fakeJoin() {
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex);
        threads.swap(firing);
    }
    for (auto& t : threads) {
        t.join();
    }
}

// Back to the first answers; calls are counted again from 0.
FAKE_EXPORT void fakeReset() {
    fakeJoin();
    std::lock_guard lock(mutex);
    createResult = 0;
    invokeResult = 1;
    setAttrResult = 0;
    onInvoke.clear();
    attributes.clear();
    calls.clear();
}

FAKE_EXPORT void fakeSetCreateResult(std::int32_t result, std::int32_t id) {
    std::lock_guard lock(mutex);
    createResult = result;
    nextId = id;
}

FAKE_EXPORT void fakeSetInvokeResult(std::int32_t result) {
    std::lock_guard lock(mutex);
    invokeResult = result;
}

FAKE_EXPORT void fakeSetSetAttrResult(std::int32_t result) {
    std::lock_guard lock(mutex);
    setAttrResult = result;
}

// Events fired, each after its delay, on every Invoke from then on.
FAKE_EXPORT void fakeOnInvoke(std::int32_t event, std::int32_t param1, std::int32_t param2, int delayMs) {
    std::lock_guard lock(mutex);
    onInvoke.push_back({event, param1, param2, delayMs});
}

FAKE_EXPORT void fakeSetAttribute(std::int32_t attribute, std::int32_t result, std::int32_t type,
                                  std::int32_t intValue, float floatValue, const char* text) {
    std::lock_guard lock(mutex);
    Attribute a{};
    a.result = result;
    a.value.type = type;
    a.value.intValue = intValue;
    a.value.floatValue = floatValue;
    if (text != nullptr) {
        std::memcpy(a.value.text, text, std::min(std::strlen(text), sizeof a.value.text));
    }
    attributes[attribute] = a;
}

FAKE_EXPORT int fakeCalls(const char* entry) {
    std::lock_guard lock(mutex);
    return calls[entry];
}

FAKE_EXPORT std::int32_t fakeLastDestroyed() {
    std::lock_guard lock(mutex);
    return lastDestroyed;
}

FAKE_EXPORT const char* fakeLastFolder() {
    std::lock_guard lock(mutex);
    return lastFolder.c_str();
}

FAKE_EXPORT void fakeLastSet(std::int32_t* attribute, fpd::AttributeValue* value) {
    std::lock_guard lock(mutex);
    *attribute = lastSetAttribute;
    *value = lastSetValue;
}

FAKE_EXPORT void fakeLastInvoke(std::int32_t* command, std::int32_t* paramCount, fpd::CommandParam* param) {
    std::lock_guard lock(mutex);
    *command = lastCommand;
    *paramCount = lastParamCount;
    *param = lastParam;
}

FAKE_EXPORT fpd::Callback fakeCallback() {
    std::lock_guard lock(mutex);
    return callback;
}

// The SDK's entry points.
FAKE_EXPORT std::int32_t Create(const char* workFolder, fpd::Callback cb, std::int32_t* detectorId) {
    std::lock_guard lock(mutex);
    count("Create");
    lastFolder = workFolder != nullptr ? workFolder : "";
    callback = cb;
    if (createResult == 0) {
        *detectorId = nextId++;
    }
    return createResult;
}

FAKE_EXPORT std::int32_t Destroy(std::int32_t detectorId) {
    std::lock_guard lock(mutex);
    count("Destroy");
    lastDestroyed = detectorId;
    return 0;
}

FAKE_EXPORT std::int32_t GetAttr(std::int32_t, std::int32_t attribute, fpd::AttributeValue* value) {
    std::lock_guard lock(mutex);
    count("GetAttr");
    auto found = attributes.find(attribute);
    if (found == attributes.end()) {
        std::memset(value, 0x5a, sizeof *value); // garbage the binding must not pass on
        return 103;
    }
    *value = found->second.value;
    return found->second.result;
}

FAKE_EXPORT std::int32_t SetAttr(std::int32_t, std::int32_t attribute, const fpd::AttributeValue* value) {
    std::lock_guard lock(mutex);
    count("SetAttr");
    lastSetAttribute = attribute;
    lastSetValue = *value;
    return setAttrResult;
}

FAKE_EXPORT std::int32_t Invoke(std::int32_t detectorId, std::int32_t command, fpd::CommandParam* params,
                                std::int32_t paramCount) {
    std::lock_guard lock(mutex);
    count("Invoke");
    lastCommand = command;
    lastParamCount = paramCount;
    lastParam = paramCount > 0 && params != nullptr ? params[0] : fpd::CommandParam{};
    for (const auto& e : onInvoke) {
        fireLater(detectorId, e);
    }
    return invokeResult;
}

FAKE_EXPORT std::int32_t Abort(std::int32_t) {
    return 0;
}

FAKE_EXPORT std::int32_t GetErrInfo(std::int32_t code, fpd::ErrorInfo* info) {
    std::lock_guard lock(mutex);
    count("GetErrInfo");
    info->code = code;
    const std::string text = "fake error " + std::to_string(code);
    std::memset(info->text, 'x', sizeof info->text); // unterminated unless the text ends it
    std::memcpy(info->text, text.c_str(), text.size() + 1);
    return 0;
}

FAKE_EXPORT std::int32_t GetProdCount(std::int32_t* count) {
    *count = 0;
    return 0;
}

#ifndef FAKE_OMIT_PROD_LIST
FAKE_EXPORT std::int32_t GetProdList(fpd::ProductInfo*, std::int32_t) {
    return 0;
}
#endif
