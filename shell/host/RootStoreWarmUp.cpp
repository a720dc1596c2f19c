#include "shell/host/RootStoreWarmUp.h"

#include <wincrypt.h>

namespace {

constexpr SIZE_T kStackReservation = SIZE_T{256} * 1024;

}  // namespace

RootStoreWarmUp::RootStoreWarmUp(Work work) noexcept
{
    // The plain system thread: no runtime state is touched on it, so it may start before static
    // construction of the program has finished. A small stack: the program's default reservation
    // would stay counted against the process for a while after the thread has ended.
    m_thread.reset(::CreateThread(nullptr, kStackReservation, ThreadMain,
                                  reinterpret_cast<void*>(work != nullptr ? work : OpenRootStore),
                                  STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
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
