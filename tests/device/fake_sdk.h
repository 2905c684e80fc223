// Access from a test to the scriptable SDK stand-in that the binding has loaded.
#pragma once

#include "device/fpd_sys.h"
#include "platform/module.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fakesdk {

// Points the driver folder at the fake SDK's folder and opens the fake for the test to steer.
class FakeSdk {
public:
    explicit FakeSdk(const std::filesystem::path& folder) {
        platform::setDriverFolder(folder);
        platform::addDriverFolderToSearchPath();
        module_ = platform::Module::load(folder / platform::libraryFileName(fpd::kLibraryName));
    }
    ~FakeSdk() { join(); }

    bool loaded() const { return module_.loaded(); }

    template <typename F> F fn(const char* name) const {
        auto f = module_.function<F>(name);
        EXPECT_NE(f, nullptr) << name;
        return f;
    }

    void join() const {
        if (module_) {
            fn<void (*)()>("fakeJoin")();
        }
    }
    void reset() const { fn<void (*)()>("fakeReset")(); }
    void setCreateResult(std::int32_t result, std::int32_t id) const {
        fn<void (*)(std::int32_t, std::int32_t)>("fakeSetCreateResult")(result, id);
    }
    void setInvokeResult(std::int32_t result) const {
        fn<void (*)(std::int32_t)>("fakeSetInvokeResult")(result);
    }
    void setSetAttrResult(std::int32_t result) const {
        fn<void (*)(std::int32_t)>("fakeSetSetAttrResult")(result);
    }
    void onInvoke(std::int32_t event, std::int32_t param1, std::int32_t param2, int delayMs) const {
        fn<void (*)(std::int32_t, std::int32_t, std::int32_t, int)>("fakeOnInvoke")(event, param1, param2,
                                                                                    delayMs);
    }
    void setAttribute(std::int32_t attribute, std::int32_t result, std::int32_t type, std::int32_t intValue,
                      float floatValue, const char* text) const {
        fn<void (*)(std::int32_t, std::int32_t, std::int32_t, std::int32_t, float, const char*)>(
            "fakeSetAttribute")(attribute, result, type, intValue, floatValue, text);
    }
    int calls(const char* entry) const { return fn<int (*)(const char*)>("fakeCalls")(entry); }
    std::int32_t lastDestroyed() const { return fn<std::int32_t (*)()>("fakeLastDestroyed")(); }
    std::string lastFolder() const { return fn<const char* (*)()>("fakeLastFolder")(); }
    std::pair<std::int32_t, fpd::AttributeValue> lastSet() const {
        std::pair<std::int32_t, fpd::AttributeValue> out{};
        fn<void (*)(std::int32_t*, fpd::AttributeValue*)>("fakeLastSet")(&out.first, &out.second);
        return out;
    }
    struct Invocation {
        std::int32_t command = 0;
        std::int32_t paramCount = 0;
        fpd::CommandParam param{};
    };
    Invocation lastInvoke() const {
        Invocation out;
        fn<void (*)(std::int32_t*, std::int32_t*, fpd::CommandParam*)>("fakeLastInvoke")(
            &out.command, &out.paramCount, &out.param);
        return out;
    }
    fpd::Callback callback() const { return fn<fpd::Callback (*)()>("fakeCallback")(); }

private:
    platform::Module module_;
};

} // namespace fakesdk
