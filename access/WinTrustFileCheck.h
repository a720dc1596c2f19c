#pragma once
// One WinVerifyTrust check of a file's embedded signature (the generic verify action, no UI, no
// revocation). The platform keeps state between the verify and its close; the object closes it
// in its destructor, so no return path can leak it. Neither copyable nor movable: the
// WINTRUST_DATA points at the object's own WINTRUST_FILE_INFO.

#include <windows.h>

#include <softpub.h>
#include <wintrust.h>

class WinTrustFileCheck {
public:
    // The platform call; a test may put its own in its place.
    using VerifyFunction = LONG(WINAPI*)(HWND, GUID*, LPVOID);

    // path must outlive the object. providerFlags are the WTD_* flags the caller's policy needs.
    WinTrustFileCheck(const wchar_t* path, DWORD providerFlags, VerifyFunction verify = ::WinVerifyTrust) noexcept
        : m_verify(verify)
    {
        m_file.cbStruct = sizeof(m_file);
        m_file.pcwszFilePath = path;
        m_data.cbStruct = sizeof(m_data);
        m_data.dwUIChoice = WTD_UI_NONE;
        m_data.fdwRevocationChecks = WTD_REVOKE_NONE;
        m_data.dwUnionChoice = WTD_CHOICE_FILE;
        m_data.pFile = &m_file;
        m_data.dwProvFlags = providerFlags;
    }

    ~WinTrustFileCheck() { Close(); }

    WinTrustFileCheck(const WinTrustFileCheck&) = delete;
    WinTrustFileCheck& operator=(const WinTrustFileCheck&) = delete;

    // The platform's verdict: 0 when the signature verifies, else its HRESULT-style code
    // (TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST, ...). Once per object; a second call closes the
    // first one's state before verifying again.
    [[nodiscard]] LONG Verify() noexcept
    {
        Close();
        m_data.dwStateAction = WTD_STATEACTION_VERIFY;
        m_open = true;
        return m_verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &m_action, &m_data);
    }

private:
    void Close() noexcept
    {
        if (!m_open) return;
        m_open = false;
        // Keeps the caller's last error, as any owner's release does.
        const DWORD lastError = ::GetLastError();
        m_data.dwStateAction = WTD_STATEACTION_CLOSE;
        (void)m_verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &m_action, &m_data);
        m_data.hWVTStateData = nullptr;
        ::SetLastError(lastError);
    }

    VerifyFunction m_verify;
    GUID m_action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO m_file = {};
    WINTRUST_DATA m_data = {};
    bool m_open = false;
};
