#pragma once
// "PlatformDspObj": gives page script the suite's provider objects by property number, created
// in the page's process or inside the suite's surrogate process, and kept for the object's life.
// Its IDispatch is written by hand: one method, "GetProperty" (DISPID 0), whose two arguments are
// converted to numbers (text holding a zero character is no number: DISP_E_TYPEMISMATCH). No
// exception leaves a method.

#include "classlib/KvComObject.h"
#include "pageobjects/objects/KvSurrogateInterfaces.h"

#include <oaidl.h>
#include <windows.h>
#include <wrl/client.h>

class CKvPlatformDsp : public CKvComObjectRoot, public IDispatch {
public:
    // E_INVALIDARG for a null out pointer; otherwise S_OK and the object with one reference.
    [[nodiscard]] static HRESULT CreateInstance(CKvPlatformDsp** object) noexcept;

    // Provider id (0-9, 11) created directly (useSurrogate 0) or inside the surrogate. *result
    // is cleared first and gets VT_DISPATCH or the provider's property; it stays VT_EMPTY when
    // nothing could be produced (failures are logged; an exception gives VT_EMPTY too). E_POINTER
    // for a null result, else S_OK.
    HRESULT GetProperty(long id, int useSurrogate, VARIANT* result) noexcept;

    // IUnknown and IDispatch.
    static const KvInterfaceEntry* GetInterfaceTable();

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* badArgument) override;

protected:
    CKvPlatformDsp() = default;
    ~CKvPlatformDsp() override = default;

private:
    // The providers handed out as VT_DISPATCH, by slot in m_direct / m_admin.
    enum ProviderSlot { DatabaseMgr, SystemInfo, Registry, FileSystem, ManageOem, Analytics, QrnHelper, SlotCount };

    void GetSurrogateProperty(long id, VARIANT* result);
    void GetDirectProperty(long id, VARIANT* result);
    void HandOutDispatch(IUnknown* provider, const wchar_t* prefix, const wchar_t* member, VARIANT* result);
    void AskProvider(IKvSMProvider* provider, long id, VARIANT* result);

    Microsoft::WRL::ComPtr<IUnknown> m_direct[SlotCount];
    Microsoft::WRL::ComPtr<IUnknown> m_admin[SlotCount];
    Microsoft::WRL::ComPtr<IKvSMProvider> m_smProvider;
    Microsoft::WRL::ComPtr<IKvSMProvider> m_smProviderAdmin;
    Microsoft::WRL::ComPtr<IKvSurrogate> m_surrogate;
};
