// A growable byte buffer whose new bytes are left uninitialised: codecs size
// an output area generously and write every byte they keep, so zero-filling
// it first would only cost time (and touch pages never used).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace zan {

template <typename T>
struct UninitAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitAllocator<U>;
    };
    UninitAllocator() = default;
    template <typename U>
    UninitAllocator(const UninitAllocator<U>&) noexcept {}
    // Value-initialisation (what resize asks for) becomes default-initialisation.
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using ByteBuffer = std::vector<uint8_t, UninitAllocator<uint8_t>>;

}  // namespace zan
