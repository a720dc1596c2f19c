#include "pageobjects/objects/PageObjectFactory.h"

#include "pageobjects/objects/SessionMgr.h"

HRESULT CreateSessionManager(IDispatch** object) noexcept
{
    return CKvComObject<CSessionMgr2>::CreateInstance(IID_IDispatch, reinterpret_cast<void**>(object));
}
