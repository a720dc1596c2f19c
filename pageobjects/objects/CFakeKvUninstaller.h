#pragma once
// "FakeUninstShim": the uninstaller object of the uninstall pages' simulation mode. Most calls go
// on to the real uninstaller, made inside the suite's surrogate process; the simulation values of
// the command line answer a few (slots 10, 18 and 40). IDispatch is served from the embedded
// KvUnInstShimLib type library.

#include "classlib/KvComObject.h"
#include "core/base/ScopedComValues.h"
#include "pageobjects/objects/IKvUninstaller.h"
#include "pageobjects/objects/TypeLibDispatchImpl.h"

#include <wrl/client.h>

class CFakeKvUninstaller : public CKvComObjectRoot, public CKvTypeLibDispatchImpl<IKvUninstaller5> {
public:
    // Loads the type information, creates the real uninstaller in the surrogate and asks it for
    // IKvUninstaller5 (across processes that needs the uninstaller's type library registered).
    // On failure *object is null and the first failing HRESULT is returned (logged). When only
    // the last step fails, the shim is made all the same and the forwarded slots fail with the
    // query's HRESULT (logged).
    [[nodiscard]] static HRESULT CreateInstance(CFakeKvUninstaller** object) noexcept;

    // The "simulate:" and "ngmdata:" option values (null counts as empty); copies both.
    [[nodiscard]] HRESULT SetSimulationData(const wchar_t* simulate, const wchar_t* surveyData) noexcept;

    // IUnknown, IDispatch and IKvUninstaller to IKvUninstaller5 are one table.
    static const KvInterfaceEntry* GetInterfaceTable();
    // Loads the type information and reaches the real uninstaller (see CreateInstance).
    HRESULT FinalConstruct() override;

    // Slots 7-42. Forwarded: 9, 17, 26-28, 31, 34-36, 39, 41 (the real uninstaller's HRESULT;
    // without one, the failure that left the shim without it). 10: the simulate string. 18 and 40: the survey data when the
    // simulate string is "uninstall_survey" resp. "uninstall_launch" (any case), else VT_EMPTY.
    // The three clear their out value first and give E_POINTER for a null one. 42: E_NOTIMPL.
    // All others: S_OK, nothing touched. No exception leaves a method: one thrown inside (also
    // by an in-process uninstaller) gives E_OUTOFMEMORY, E_FAIL or E_UNEXPECTED (logged).
    HRESULT STDMETHODCALLTYPE Method07(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method08(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method09(VARIANT argument, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE GetSimulateString(VARIANT first, VARIANT second, VARIANT* simulate) override;
    HRESULT STDMETHODCALLTYPE Method11(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method12(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method13(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method14(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method15(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method16(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method17(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE GetSurveyData(VARIANT* data) override;
    HRESULT STDMETHODCALLTYPE Method19(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method20(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method21(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method22(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method23(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method24(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method25(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method26(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method27(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method28(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method29(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method30(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method31(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method32(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method33(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method34(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method35(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method36(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method37(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method38(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method39(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE GetLaunchData(VARIANT* data) override;
    HRESULT STDMETHODCALLTYPE Method41(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE Method42() override;

protected:
    CFakeKvUninstaller();
    ~CFakeKvUninstaller() override = default;

private:
    HRESULT SurveyDataWhen(const wchar_t* simulateValue, VARIANT* data) noexcept;
    // call(the real uninstaller) inside the COM boundary; m_unreachable without one.
    template <typename Call>
    HRESULT Forward(const wchar_t* method, Call&& call) noexcept;

    Fundor::ScopedBstr m_simulate;
    Fundor::ScopedBstr m_surveyData;
    Microsoft::WRL::ComPtr<IKvUninstaller5> m_real;
    // Why there is no m_real: what the forwarded slots answer then.
    HRESULT m_unreachable = E_UNEXPECTED;
};
