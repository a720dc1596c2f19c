#include "pageobjects/PageObjectFactory.h"

#include "pageobjects/SessionMgr.h"

HRESULT CreateSessionManager(IDispatch** object) noexcept
{
    return CKvComObject<CSessionMgr2>::CreateInstance(IID_IDispatch, reinterpret_cast<void**>(object));
}
