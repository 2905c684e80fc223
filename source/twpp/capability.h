// Capability containers in DSM handle memory: an owning Capability, the three container builders,
// locked typed views, the value readers used by MSG_SET and the hand-over of an answer.
#pragma once

#include "source/twpp/exceptions.h"
#include "source/twpp/fix32.h"
#include "source/twpp/memory.h"
#include "source/twpp/twain.h"

#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace Twpp {

// The TWTY_ item type of each C++ item type.
template <typename T> struct ItemType;
template <> struct ItemType<TW_INT16> { static constexpr TW_UINT16 value = TWTY_INT16; };
template <> struct ItemType<TW_INT32> { static constexpr TW_UINT16 value = TWTY_INT32; };
template <> struct ItemType<TW_UINT16> { static constexpr TW_UINT16 value = TWTY_UINT16; };
template <> struct ItemType<TW_UINT32> { static constexpr TW_UINT16 value = TWTY_UINT32; };
template <> struct ItemType<Bool> { static constexpr TW_UINT16 value = TWTY_BOOL; };
template <> struct ItemType<Fix32> { static constexpr TW_UINT16 value = TWTY_FIX32; };
template <typename E>
requires std::is_enum_v<E> && std::is_same_v<std::underlying_type_t<E>, TW_UINT16>
struct ItemType<E> {
    static constexpr TW_UINT16 value = TWTY_UINT16;
};

inline constexpr std::size_t kOneValueSize = 6;
inline constexpr std::size_t kEnumerationHeader = 14;
inline constexpr std::size_t kArrayHeader = 6;

// Owns its container handle: frees it (and a handle stored in a TWTY_HANDLE one-value) on
// destruction, except a null handle or the application's own handle of the call in progress.
class Capability {
public:
    Capability() = default;
    Capability(TW_UINT16 id, TW_UINT16 containerType, TW_HANDLE handle)
        : id_(id), type_(containerType), handle_(handle) {}
    // Takes the application's structure as it stands; its handle is the application's own for the
    // call in progress and so is never freed here.
    explicit Capability(const TW_CAPABILITY& raw)
        : id_(raw.Cap), type_(raw.ConType), handle_(raw.hContainer) {}
    ~Capability() { reset(); }

    Capability(Capability&& other) noexcept
        : id_(other.id_), type_(other.type_), handle_(std::exchange(other.handle_, nullptr)) {}
    Capability& operator=(Capability&& other) noexcept {
        if (this != &other) {
            reset();
            id_ = other.id_;
            type_ = other.type_;
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    Capability(const Capability&) = delete;
    Capability& operator=(const Capability&) = delete;

    TW_UINT16 id() const { return id_; }
    TW_UINT16 type() const { return type_; }
    TW_HANDLE handle() const { return handle_; }
    TW_HANDLE release() { return std::exchange(handle_, nullptr); }

    template <typename T> static Capability oneValue(TW_UINT16 id, T value);
    template <typename T, typename Fill>
    static Capability enumeration(TW_UINT16 id, TW_UINT32 count, TW_UINT32 current, TW_UINT32 defaultIndex,
                                  Fill fill);
    template <typename T, typename Fill> static Capability array(TW_UINT16 id, TW_UINT32 count, Fill fill);

private:
    void reset();

    TW_UINT16 id_ = 0;
    TW_UINT16 type_ = TWON_DONTCARE16;
    TW_HANDLE handle_ = nullptr;
};

// Writes a one-value item as a full 32-bit value: signed types sign-extended, unsigned ones
// zero-extended, Bool as exactly 0 or 1, Fix32 as its two halves.
template <typename T> TW_UINT32 oneValueItem(T value) {
    if constexpr (std::is_same_v<T, Bool>) {
        return value.raw();
    } else if constexpr (std::is_same_v<T, Fix32>) {
        TW_UINT32 item = 0;
        std::memcpy(&item, &value, sizeof(value));
        return item;
    } else if constexpr (std::is_enum_v<T>) {
        return static_cast<TW_UINT16>(value);
    } else if constexpr (std::is_signed_v<T>) {
        return static_cast<TW_UINT32>(static_cast<TW_INT32>(value));
    } else {
        return static_cast<TW_UINT32>(value);
    }
}

// Reads an item of type T from its first sizeof(T) bytes.
template <typename T> T readItem(const char* at) {
    if constexpr (std::is_same_v<T, Bool>) {
        TW_UINT16 raw = 0;
        std::memcpy(&raw, at, sizeof(raw));
        return Bool(raw);
    }
    T value{};
    std::memcpy(static_cast<void*>(&value), at, sizeof(T));
    return value;
}

// A view of a locked block with typed access to its items; unlocks on destruction. A handle the
// memory call-backs cannot lock throws: DataException for a container read, std::bad_alloc for one
// being built (`building`).
template <typename T> class ItemsView {
public:
    ItemsView(TW_HANDLE handle, std::size_t header, bool building = false) : lock_(handle), header_(header) {
        if (lock_.data() == nullptr) {
            if (building) {
                throw std::bad_alloc();
            }
            throw DataException();
        }
    }
    char* block() const { return lock_.data(); }
    T get(std::size_t i) const { return readItem<T>(lock_.data() + header_ + i * sizeof(T)); }
    void set(std::size_t i, T value) const {
        if constexpr (std::is_same_v<T, Bool>) {
            const TW_UINT16 raw = value.raw();
            std::memcpy(lock_.data() + header_ + i * sizeof(T), &raw, sizeof(raw));
        } else {
            std::memcpy(lock_.data() + header_ + i * sizeof(T), static_cast<const void*>(&value), sizeof(T));
        }
    }
    TW_UINT16 itemType() const { return readItem<TW_UINT16>(lock_.data()); }
    TW_UINT32 count() const { return readItem<TW_UINT32>(lock_.data() + 2); }

private:
    Memory::Lock lock_;
    std::size_t header_;
};

namespace detail {
inline TW_HANDLE allocOrThrow(std::size_t size) {
    TW_HANDLE handle = Memory::alloc(static_cast<TW_UINT32>(size));
    if (handle == nullptr) {
        throw std::bad_alloc();
    }
    return handle;
}
inline void writeU16(char* at, TW_UINT16 v) {
    std::memcpy(at, &v, 2);
}
inline void writeU32(char* at, TW_UINT32 v) {
    std::memcpy(at, &v, 4);
}
} // namespace detail

template <typename T> Capability Capability::oneValue(TW_UINT16 id, T value) {
    Capability cap(id, TWON_ONEVALUE, detail::allocOrThrow(kOneValueSize));
    Memory::Lock lock(cap.handle());
    if (lock.data() == nullptr) {
        throw std::bad_alloc(); // cap frees the handle
    }
    detail::writeU16(lock.data(), ItemType<T>::value);
    detail::writeU32(lock.data() + 2, oneValueItem(value));
    return cap;
}

template <typename T, typename Fill>
Capability Capability::enumeration(TW_UINT16 id, TW_UINT32 count, TW_UINT32 current, TW_UINT32 defaultIndex,
                                   Fill fill) {
    Capability cap(id, TWON_ENUMERATION, detail::allocOrThrow(kEnumerationHeader + count * sizeof(T)));
    {
        ItemsView<T> view(cap.handle(), kEnumerationHeader, true);
        detail::writeU16(view.block(), ItemType<T>::value);
        detail::writeU32(view.block() + 2, count);
        detail::writeU32(view.block() + 6, current);
        detail::writeU32(view.block() + 10, defaultIndex);
        fill(view);
    }
    return cap;
}

template <typename T, typename Fill> Capability Capability::array(TW_UINT16 id, TW_UINT32 count, Fill fill) {
    Capability cap(id, TWON_ARRAY, detail::allocOrThrow(kArrayHeader + count * sizeof(T)));
    {
        ItemsView<T> view(cap.handle(), kArrayHeader, true);
        detail::writeU16(view.block(), ItemType<T>::value);
        detail::writeU32(view.block() + 2, count);
        fill(view);
    }
    return cap;
}

// Typed accessors. Checks, in order: a null handle (DataException), the container type
// (ContainerException), the item type (ItemTypeException).
template <typename T> ItemsView<T> accessOneValue(const Capability& cap);
template <typename T> ItemsView<T> accessEnumeration(const Capability& cap);
template <typename T> ItemsView<T> accessArray(const Capability& cap);

namespace detail {
template <typename T> ItemsView<T> access(const Capability& cap, TW_UINT16 container, std::size_t header) {
    if (cap.handle() == nullptr) {
        throw DataException();
    }
    if (cap.type() != container) {
        throw ContainerException();
    }
    ItemsView<T> view(cap.handle(), header);
    if (view.itemType() != ItemType<T>::value) {
        throw ItemTypeException();
    }
    return view;
}
} // namespace detail

template <typename T> ItemsView<T> accessOneValue(const Capability& cap) {
    return detail::access<T>(cap, TWON_ONEVALUE, 2);
}
template <typename T> ItemsView<T> accessEnumeration(const Capability& cap) {
    return detail::access<T>(cap, TWON_ENUMERATION, kEnumerationHeader);
}
template <typename T> ItemsView<T> accessArray(const Capability& cap) {
    return detail::access<T>(cap, TWON_ARRAY, kArrayHeader);
}

// The value an application asks to set: a one-value's item, or an enumeration's item at its
// current index (rejected when that index is not below the count). Other containers are refused.
template <typename T> T readValue(const Capability& cap) {
    if (cap.type() == TWON_ONEVALUE) {
        return accessOneValue<T>(cap).get(0);
    }
    if (cap.type() == TWON_ENUMERATION) {
        auto view = accessEnumeration<T>(cap);
        const auto current = readItem<TW_UINT32>(view.block() + 6);
        if (current >= view.count()) {
            throw ContainerException();
        }
        return view.get(current);
    }
    if (cap.handle() == nullptr) {
        throw DataException();
    }
    throw ContainerException();
}

// Gives an answer container to the application: its previous container is freed unless it is
// the application's own handle; the answer's handle then belongs to the application.
void answer(TW_CAPABILITY& target, Capability&& reply);

} // namespace Twpp
