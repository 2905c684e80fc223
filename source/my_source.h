// The Ostra sensor's data source: one instance per TWAIN application that opened it.
#pragma once

#include "source/capabilities.h"
#include "source/twpp/source_from_this.h"

class MySource : public Twpp::SourceFromThis<MySource> {
public:
    MySource() = default;
    ~MySource() override = default;

protected:
    using Result = Twpp::Result;
    using Identity = Twpp::Identity;

    Result capabilityGet(const Identity& origin, TW_CAPABILITY& data) override;
    Result capabilityGetCurrent(const Identity& origin, TW_CAPABILITY& data) override;
    Result capabilityGetDefault(const Identity& origin, TW_CAPABILITY& data) override;
    Result capabilityReset(const Identity& origin, TW_CAPABILITY& data) override;
    Result capabilitySet(const Identity& origin, TW_CAPABILITY& data) override;
    Result capabilityQuerySupport(const Identity& origin, TW_CAPABILITY& data) override;
    Result capabilityResetAll(const Identity& origin) override;

private:
    Result capCommon(const Identity& origin, Twpp::Msg msg, TW_CAPABILITY& data);

    // The capability tables and values; built at every open.
    Capabilities capabilities;
};
