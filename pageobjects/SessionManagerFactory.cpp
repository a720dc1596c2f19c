#include "PageObjectFactory.h"

// The session manager (CSessionMgr2) is added here; until then the host starts without it.
HRESULT CreateSessionManager(IDispatch** object) noexcept
{
    if (object != nullptr) *object = nullptr;
    return E_NOTIMPL;
}
