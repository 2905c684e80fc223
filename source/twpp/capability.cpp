#include "source/twpp/capability.h"

namespace Twpp {

void Capability::reset() {
    if (handle_ == nullptr || handle_ == Memory::appOwnedHandle()) {
        handle_ = nullptr;
        return;
    }
    if (type_ == TWON_ONEVALUE) {
        Memory::Lock lock(handle_);
        if (lock.data() != nullptr && readItem<TW_UINT16>(lock.data()) == TWTY_HANDLE) {
            // A handle item sits in the 32-bit item slot on 32-bit systems only; read what fits.
            TW_HANDLE inner = nullptr;
            if constexpr (sizeof(TW_HANDLE) <= 4) {
                std::memcpy(&inner, lock.data() + 2, sizeof(TW_HANDLE));
            }
            Memory::freeUnlessAppOwned(inner);
        }
    }
    Memory::free(std::exchange(handle_, nullptr));
}

void answer(TW_CAPABILITY& target, Capability&& reply) {
    target.Cap = reply.id();
    target.ConType = reply.type();
    Memory::freeUnlessAppOwned(target.hContainer);
    target.hContainer = reply.release();
}

} // namespace Twpp
