#pragma once
// Move-only owner of one operating-system resource (handle, key, module, memory block).
// The traits say which value means "nothing held" and how the resource is given back.

#include <windows.h>

#include <utility>

namespace Fundor {

template <typename Traits>
class ScopedResource {
public:
    using value_type = typename Traits::type;

    ScopedResource() noexcept = default;
    explicit ScopedResource(value_type value) noexcept : m_value(value) {}
    ~ScopedResource() { reset(); }

    ScopedResource(const ScopedResource&) = delete;
    ScopedResource& operator=(const ScopedResource&) = delete;

    ScopedResource(ScopedResource&& other) noexcept : m_value(other.release()) {}
    ScopedResource& operator=(ScopedResource&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    [[nodiscard]] value_type get() const noexcept { return m_value; }
    [[nodiscard]] bool valid() const noexcept { return Traits::valid(m_value); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without releasing.
    [[nodiscard]] value_type release() noexcept { return std::exchange(m_value, Traits::empty()); }

    // Keeps the thread's last error: an owner going out of scope between a failed call and the
    // line that reads GetLastError() must not replace the caller's error with its own close's.
    void reset(value_type value = Traits::empty()) noexcept
    {
        value_type old = std::exchange(m_value, value);
        if (Traits::valid(old)) {
            const DWORD lastError = ::GetLastError();
            Traits::close(old);
            ::SetLastError(lastError);
        }
    }

    // Releases what is held and hands out the slot for an API that returns a new resource.
    [[nodiscard]] value_type* put() noexcept
    {
        reset();
        return &m_value;
    }

private:
    value_type m_value = Traits::empty();
};

struct KernelHandleTraits {
    using type = HANDLE;
    static type empty() noexcept { return nullptr; }
    // Kernel calls report failure either as null or as INVALID_HANDLE_VALUE.
    static bool valid(type value) noexcept { return value != nullptr && value != INVALID_HANDLE_VALUE; }
    static void close(type value) noexcept { ::CloseHandle(value); }
};

struct RegKeyTraits {
    using type = HKEY;
    static type empty() noexcept { return nullptr; }
    static bool valid(type value) noexcept { return value != nullptr; }
    static void close(type value) noexcept { ::RegCloseKey(value); }
};

struct ModuleTraits {
    using type = HMODULE;
    static type empty() noexcept { return nullptr; }
    static bool valid(type value) noexcept { return value != nullptr; }
    static void close(type value) noexcept { ::FreeLibrary(value); }
};

struct FindHandleTraits {
    using type = HANDLE;
    static type empty() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(type value) noexcept { return value != nullptr && value != INVALID_HANDLE_VALUE; }
    static void close(type value) noexcept { ::FindClose(value); }
};

struct LocalMemoryTraits {
    using type = HLOCAL;
    static type empty() noexcept { return nullptr; }
    static bool valid(type value) noexcept { return value != nullptr; }
    static void close(type value) noexcept { ::LocalFree(value); }
};

struct CoTaskMemoryTraits {
    using type = void*;
    static type empty() noexcept { return nullptr; }
    static bool valid(type value) noexcept { return value != nullptr; }
    static void close(type value) noexcept { ::CoTaskMemFree(value); }
};

struct MappedViewTraits {
    using type = void*;
    static type empty() noexcept { return nullptr; }
    static bool valid(type value) noexcept { return value != nullptr; }
    static void close(type value) noexcept { ::UnmapViewOfFile(value); }
};

using ScopedHandle = ScopedResource<KernelHandleTraits>;
using ScopedRegKey = ScopedResource<RegKeyTraits>;
using ScopedModule = ScopedResource<ModuleTraits>;
using ScopedFindHandle = ScopedResource<FindHandleTraits>;
using ScopedLocalMemory = ScopedResource<LocalMemoryTraits>;
using ScopedCoTaskMemory = ScopedResource<CoTaskMemoryTraits>;
using ScopedMappedView = ScopedResource<MappedViewTraits>;

}  // namespace Fundor
