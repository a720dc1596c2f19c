#include "standins/KvBrwsr2/ZoomBrowser.h"

#include "standins/KvBrwsr2/StandInLog.h"

namespace KvBrwsr2 {

ZoomBrowser::ZoomBrowser(IKvBrowserUnknown& owner, unsigned long objectId, unsigned long notReadyAnswers,
                         HRESULT notReadyCode)
    : m_owner(owner), m_objectId(objectId), m_notReadyCode(notReadyCode), m_notReadyLeft(notReadyAnswers)
{
}

long ZoomBrowser::AppliedZoom() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_zoom;
}

HRESULT ZoomBrowser::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IWebBrowser || iid == IID_IWebBrowserApp ||
        iid == IID_IWebBrowser2) {
        *object = static_cast<IWebBrowser2*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT ZoomBrowser::GetTypeInfoCount(UINT* count)
{
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT ZoomBrowser::ExecWB(OLECMDID command, OLECMDEXECOPT option, VARIANT* in, VARIANT* out)
{
    const std::wstring prefix = L"obj=" + std::to_wstring(m_objectId) + L" ";
    if (command != OLECMDID_OPTICAL_ZOOM) {
        RecordLine(prefix + L"exec_wb command=" + std::to_wstring(static_cast<int>(command)) + L" result=" +
                   Hex32(static_cast<unsigned long>(OLECMDERR_E_NOTSUPPORTED)));
        return OLECMDERR_E_NOTSUPPORTED;
    }
    if (in == nullptr || V_VT(in) != VT_I4) {
        RecordLine(prefix + L"zoom value=none option=" + std::to_wstring(static_cast<int>(option)) + L" result=" +
                   Hex32(static_cast<unsigned long>(E_INVALIDARG)));
        return E_INVALIDARG;
    }
    HRESULT result = S_OK;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_notReadyLeft > 0) {
            --m_notReadyLeft;
            result = m_notReadyCode;
        } else {
            m_zoom = V_I4(in);
        }
    }
    RecordLine(prefix + L"zoom value=" + std::to_wstring(V_I4(in)) + L" option=" + std::to_wstring(static_cast<int>(option)) +
               L" result=" + Hex32(static_cast<unsigned long>(result)));
    return result;
}

}  // namespace KvBrwsr2
