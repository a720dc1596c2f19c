#include "core/registry/SecurityFunctionTable.h"

#include "core/version/OSInfoProxy.h"

#include "core/loading/SafeLoading.h"

namespace Fundor {
namespace {

constexpr DWORD kLockSpinCount = 4000;

class LockGuard {
public:
    explicit LockGuard(CRITICAL_SECTION& lock) : m_lock(lock) { ::EnterCriticalSection(&m_lock); }
    ~LockGuard() { ::LeaveCriticalSection(&m_lock); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    CRITICAL_SECTION& m_lock;
};

template <typename Function>
bool BindOne(HMODULE library, const char* name, Function& target)
{
    target = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
    return target != nullptr;
}

#define ORDWELL_COUNT_ONE(name) +1
static_assert(0 ORDWELL_SECURITY_FUNCTIONS(ORDWELL_COUNT_ONE) == SecurityFunctionTable::kFunctionCount);
#undef ORDWELL_COUNT_ONE

}  // namespace

bool IsWindowsNtPlatform()
{
    // The platform id alone; the proxy computes nothing else for it.
    internal::OSInfoProxy<WinOSVersionAPI> proxy;
    return proxy.IsWinNT();
}

SecurityFunctionTable::SecurityFunctionTable() : m_isWindowsNt(IsWindowsNtPlatform())
{
    // Cannot fail on any supported system.
    ::InitializeCriticalSectionAndSpinCount(&m_lock, kLockSpinCount);
}

SecurityFunctionTable::~SecurityFunctionTable()
{
    Unbind();
    ::DeleteCriticalSection(&m_lock);
}

void SecurityFunctionTable::Unbind()
{
#define ORDWELL_CLEAR_ONE(name) name = nullptr;
    ORDWELL_SECURITY_FUNCTIONS(ORDWELL_CLEAR_ONE)
#undef ORDWELL_CLEAR_ONE
    m_bound = false;
    m_library.reset();
}

bool SecurityFunctionTable::Bind()
{
    LockGuard guard(m_lock);
    Unbind();
    m_library.reset(LoadSystemLibrary(L"advapi32.dll"));
    if (!m_library) {
        return false;
    }
    const HMODULE library = m_library.get();
    bool all = true;
#define ORDWELL_BIND_ONE(name) all = BindOne(library, #name, name) && all;
    ORDWELL_SECURITY_FUNCTIONS(ORDWELL_BIND_ONE)
#undef ORDWELL_BIND_ONE
    if (!all) {
        Unbind();
        return false;
    }
    m_bound = true;
    return true;
}

}  // namespace Fundor
