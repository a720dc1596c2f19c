#pragma once
// RAII owners for the crypto objects of the trust check, and a process-heap buffer.

#include "core/base/ScopedResource.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>

namespace TrustDetail {

struct CertContextTraits {
    using type = PCCERT_CONTEXT;
    static type empty() noexcept { return nullptr; }
    static bool valid(type value) noexcept { return value != nullptr; }
    static void close(type value) noexcept { ::CertFreeCertificateContext(value); }
};

struct ChainContextTraits {
    using type = PCCERT_CHAIN_CONTEXT;
    static type empty() noexcept { return nullptr; }
    static bool valid(type value) noexcept { return value != nullptr; }
    static void close(type value) noexcept { ::CertFreeCertificateChain(value); }
};

// Stores are closed with the force flag: every certificate taken from them has its own owner.
struct CertStoreTraits {
    using type = HCERTSTORE;
    static type empty() noexcept { return nullptr; }
    static bool valid(type value) noexcept { return value != nullptr; }
    static void close(type value) noexcept { ::CertCloseStore(value, CERT_CLOSE_STORE_FORCE_FLAG); }
};

struct CryptMsgTraits {
    using type = HCRYPTMSG;
    static type empty() noexcept { return nullptr; }
    static bool valid(type value) noexcept { return value != nullptr; }
    static void close(type value) noexcept { ::CryptMsgClose(value); }
};

using ScopedCertContext = Fundor::ScopedResource<CertContextTraits>;
using ScopedChainContext = Fundor::ScopedResource<ChainContextTraits>;
using ScopedCertStore = Fundor::ScopedResource<CertStoreTraits>;
using ScopedCryptMsg = Fundor::ScopedResource<CryptMsgTraits>;

// A block from the process heap, freed with it. Move-only.
class HeapBuffer {
public:
    HeapBuffer() noexcept = default;
    ~HeapBuffer() { reset(); }
    HeapBuffer(const HeapBuffer&) = delete;
    HeapBuffer& operator=(const HeapBuffer&) = delete;
    HeapBuffer(HeapBuffer&& other) noexcept : m_data(other.m_data), m_size(other.m_size)
    {
        other.m_data = nullptr;
        other.m_size = 0;
    }
    HeapBuffer& operator=(HeapBuffer&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_data = other.m_data;
            m_size = other.m_size;
            other.m_data = nullptr;
            other.m_size = 0;
        }
        return *this;
    }

    // Replaces the block by a zeroed one of size bytes (at least 1). False when out of memory;
    // the buffer is then empty.
    [[nodiscard]] bool allocate(std::size_t size) noexcept
    {
        reset();
        m_data = ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, size == 0 ? 1 : size);
        m_size = m_data != nullptr ? size : 0;
        return m_data != nullptr;
    }
    void reset() noexcept
    {
        if (m_data != nullptr) {
            ::HeapFree(::GetProcessHeap(), 0, m_data);
        }
        m_data = nullptr;
        m_size = 0;
    }
    template <typename T>
    [[nodiscard]] T* as() const noexcept { return static_cast<T*>(m_data); }
    [[nodiscard]] void* get() const noexcept { return m_data; }
    [[nodiscard]] std::size_t size() const noexcept { return m_size; }

private:
    void* m_data = nullptr;
    std::size_t m_size = 0;
};

}  // namespace TrustDetail
