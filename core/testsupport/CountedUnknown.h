#pragma once
// An IUnknown whose references a test counts. It lives where the test puts it (often on the
// stack), so a count of 0 deletes nothing: the test reads the count to see who still holds it.

#include <unknwn.h>
#include <windows.h>

namespace Fundor::testing {

class CountedUnknown final : public IUnknown {
public:
    // references: the count to start from (1 when the test's own reference counts).
    explicit CountedUnknown(LONG references = 0) : m_count(references) {}
    CountedUnknown(const CountedUnknown&) = delete;
    CountedUnknown& operator=(const CountedUnknown&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown) return E_NOINTERFACE;
        *out = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_count)); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(::InterlockedDecrement(&m_count)); }
    [[nodiscard]] LONG Count() const { return m_count; }

private:
    LONG m_count;
};

}  // namespace Fundor::testing
