// The generic capability handler kinds: fixed values (read-only, settable only to themselves, or
// without a list) and a current value with a default.
#pragma once

#include "source/twpp/capability.h"
#include "source/twpp/result.h"

#include <functional>
#include <memory>

namespace handlers {

using Handler = std::function<Twpp::Result(Twpp::Msg, TW_CAPABILITY&)>;

inline Twpp::Result badOperation() {
    return Twpp::failure(TWCC_CAPBADOPERATION);
}

// Gives the answer to the application and succeeds.
inline Twpp::Result reply(TW_CAPABILITY& data, Twpp::Capability&& answer) {
    Twpp::answer(data, std::move(answer));
    return Twpp::success();
}

template <typename T> Twpp::Result oneValue(TW_CAPABILITY& data, T value) {
    return reply(data, Twpp::Capability::oneValue(data.Cap, value));
}

template <typename T> Twpp::Result singleItemList(TW_CAPABILITY& data, T value) {
    return reply(
        data, Twpp::Capability::enumeration<T>(data.Cap, 1, 0, 0, [&](auto& items) { items.set(0, value); }));
}

// The value an application asks to set, read from its own container.
template <typename T> T requested(const TW_CAPABILITY& data) {
    return Twpp::readValue<T>(Twpp::Capability(data));
}

template <typename T> Handler fixedReadOnly(T value) {
    return [value](Twpp::Msg msg, TW_CAPABILITY& data) {
        switch (msg) {
        case MSG_GET:
            return singleItemList(data, value);
        case MSG_GETCURRENT:
        case MSG_GETDEFAULT:
            return oneValue(data, value);
        default:
            return badOperation();
        }
    };
}

template <typename T> Handler fixedSettable(T value) {
    return [value](Twpp::Msg msg, TW_CAPABILITY& data) {
        switch (msg) {
        case MSG_GET:
            return singleItemList(data, value);
        case MSG_GETCURRENT:
        case MSG_GETDEFAULT:
        case MSG_RESET:
            return oneValue(data, value);
        case MSG_SET:
            return requested<T>(data) == value ? Twpp::success() : Twpp::badValue();
        default:
            return badOperation();
        }
    };
}

template <typename T> Handler fixedNoList(T value) {
    return [value](Twpp::Msg msg, TW_CAPABILITY& data) {
        switch (msg) {
        case MSG_GET:
        case MSG_GETCURRENT:
        case MSG_GETDEFAULT:
            return oneValue(data, value);
        default:
            return badOperation();
        }
    };
}

// Keeps its current value inside the handler from the moment the table is built.
template <typename T> Handler currentWithDefault(T current, T defaultValue) {
    auto value = std::make_shared<T>(current);
    return [value, defaultValue](Twpp::Msg msg, TW_CAPABILITY& data) {
        switch (msg) {
        case MSG_GET:
        case MSG_GETCURRENT:
            return oneValue(data, *value);
        case MSG_GETDEFAULT:
            return oneValue(data, defaultValue);
        case MSG_RESET:
            *value = defaultValue;
            return oneValue(data, *value);
        case MSG_SET:
            *value = requested<T>(data);
            return Twpp::success();
        default:
            return badOperation();
        }
    };
}

} // namespace handlers
