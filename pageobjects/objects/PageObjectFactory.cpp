// The page-object creators the host module calls, and the host access the objects read.

#include "pageobjects/objects/PageObjectFactory.h"

#include "core/Logging/Logging.h"
#include "core/base/ScopedComValues.h"
#include "pageobjects/objects/CFakeKvUninstaller.h"
#include "pageobjects/objects/KvPlatformDsp.h"

#include <atomic>

namespace {

std::atomic<IKvShellHostAccess*> g_hostAccess{nullptr};

}  // namespace

HRESULT CreatePlatformDispatch(IDispatch** object) noexcept
{
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    return CKvComObject<CKvPlatformDsp>::CreateInstance(IID_IDispatch, reinterpret_cast<void**>(object));
}

HRESULT CreateFakeUninstaller(const wchar_t* simulate, const wchar_t* ngmdata, IDispatch** object) noexcept
{
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    CFakeKvUninstaller* created = nullptr;
    HRESULT hr = CFakeKvUninstaller::CreateInstance(&created);
    if (FAILED(hr)) {
        ETWLOG(ETWLogging::kLevelError, L"KvShell", L"CreateFakeUninstaller",
               L"The uninstaller shim was not created: (0x%08X)", hr);
        return hr;
    }
    // The creator's reference: given back here unless it goes to the caller.
    Microsoft::WRL::ComPtr<IKvUninstaller5> shim = Fundor::AdoptComPtr<IKvUninstaller5>(created);
    hr = created->SetSimulationData(simulate, ngmdata);
    if (FAILED(hr)) return hr;
    *object = shim.Detach();
    return S_OK;
}

void SetShellHostAccess(IKvShellHostAccess* host) noexcept
{
    g_hostAccess.store(host);
}

IKvShellHostAccess* GetShellHostAccess() noexcept
{
    return g_hostAccess.load();
}
