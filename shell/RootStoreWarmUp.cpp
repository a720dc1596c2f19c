#include "RootStoreWarmUp.h"

#include <wincrypt.h>

RootStoreWarmUp::RootStoreWarmUp(Work work) noexcept
{
    // The plain system thread: no runtime state is touched on it, so it may start before static
    // construction of the program has finished.
    m_thread.reset(::CreateThread(nullptr, 0, ThreadMain,
                                  reinterpret_cast<void*>(work != nullptr ? work : OpenRootStore), 0, nullptr));
}

RootStoreWarmUp::~RootStoreWarmUp() { (void)Finish(kFinishWaitMs); }

bool RootStoreWarmUp::Finish(DWORD timeout) noexcept
{
    if (!m_thread) {
        return true;
    }
    if (::WaitForSingleObject(m_thread.get(), timeout) != WAIT_OBJECT_0) {
        return false;
    }
    m_thread.reset();
    return true;
}

void RootStoreWarmUp::OpenRootStore() noexcept
{
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                       CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG, L"Root");
    if (store != nullptr) {
        (void)::CertCloseStore(store, 0);
    }
}

DWORD WINAPI RootStoreWarmUp::ThreadMain(void* work) noexcept
{
    reinterpret_cast<Work>(work)();
    return 0;
}
