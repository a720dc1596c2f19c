#pragma once
// An owned BSTR for a test's names and texts: made from a wide text, freed with its owner, and
// handed to calls that take a BSTR as it stands.

#include <oleauto.h>
#include <windows.h>

namespace Fundor::testing {

class TestBstr {
public:
    explicit TestBstr(const wchar_t* text) : m_text(::SysAllocString(text)) {}
    ~TestBstr() { ::SysFreeString(m_text); }
    TestBstr(const TestBstr&) = delete;
    TestBstr& operator=(const TestBstr&) = delete;
    operator BSTR() const { return m_text; }

private:
    BSTR m_text;
};

}  // namespace Fundor::testing
