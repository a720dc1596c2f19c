// Prepares the test Wine prefix for the trust tests (never run anywhere else):
//   TrustPrefixSetup ROOT.cer... --policy POLICY.dll --sip SIP.dll
// adds the test roots to the machine "Root" store, registers the chain policy DLL for
// CERT_CHAIN_POLICY_AUTHENTICODE_TS and the signature handler for "*.js" list files, and puts
// the handler's object-trust step in place of the generic verify action's, so that Wine checks
// a list file's digest.
// Exit code 0 when everything is in place.

#include <windows.h>
#include <mssip.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

namespace {

bool AddRoot(const wchar_t* file)
{
    HANDLE handle = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    std::vector<BYTE> data(65536);
    DWORD read = 0;
    const bool ok = ReadFile(handle, data.data(), static_cast<DWORD>(data.size()), &read, nullptr) != FALSE;
    CloseHandle(handle);
    if (!ok) return false;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (store == nullptr) return false;
    const bool added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, data.data(), read,
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    CertCloseStore(store, 0);
    return added;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* policy = nullptr;
    const wchar_t* sip = nullptr;
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], L"--policy") == 0 && i + 1 < argc) {
            policy = argv[++i];
        } else if (wcscmp(argv[i], L"--sip") == 0 && i + 1 < argc) {
            sip = argv[++i];
        } else if (!AddRoot(argv[i])) {
            fprintf(stderr, "cannot add root %ls: %lu\n", argv[i], GetLastError());
            ++failures;
        }
    }
    if (policy != nullptr &&
        !CryptRegisterOIDFunction(X509_ASN_ENCODING, CRYPT_OID_VERIFY_CERTIFICATE_CHAIN_POLICY_FUNC,
                                  reinterpret_cast<LPCSTR>(CERT_CHAIN_POLICY_AUTHENTICODE_TS), policy,
                                  "VerifyAuthenticodeTsPolicy")) {
        fprintf(stderr, "cannot register the policy: %lu\n", GetLastError());
        ++failures;
    }
    if (sip != nullptr) {
        GUID subject = {0x6a3c1e52, 0x0f4b, 0x4c8e, {0x9d, 0x21, 0x5b, 0x7e, 0x33, 0xa0, 0x19, 0xc4}};
        SIP_ADD_NEWPROVIDER provider = {};
        provider.cbStruct = sizeof(provider);
        provider.pgSubject = &subject;
        provider.pwszDLLFileName = const_cast<WCHAR*>(sip);
        provider.pwszIsFunctionName = const_cast<WCHAR*>(L"ScriptSipIsMyFile");
        provider.pwszGetFuncName = const_cast<WCHAR*>(L"ScriptSipGetSignedDataMsg");
        provider.pwszPutFuncName = const_cast<WCHAR*>(L"ScriptSipPutSignedDataMsg");
        provider.pwszCreateFuncName = const_cast<WCHAR*>(L"ScriptSipCreateIndirectData");
        provider.pwszVerifyFuncName = const_cast<WCHAR*>(L"ScriptSipVerifyIndirectData");
        provider.pwszRemoveFuncName = const_cast<WCHAR*>(L"ScriptSipRemoveSignedDataMsg");
        provider.pwszIsFunctionNameFmt2 = const_cast<WCHAR*>(L"ScriptSipIsMyFileName");
        if (!CryptSIPAddProvider(&provider)) {
            fprintf(stderr, "cannot register the script SIP: %lu\n", GetLastError());
            ++failures;
        }
    }
    if (sip != nullptr) {
        HKEY key = nullptr;
        const wchar_t* path = L"Software\\Microsoft\\Cryptography\\Providers\\Trust\\Message\\"
                              L"{00AAC56B-CD44-11D0-8CC2-00C04FC295EE}";
        const wchar_t* function = L"ScriptSipLoadMessage";
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS ||
            RegSetValueExW(key, L"$DLL", 0, REG_SZ, reinterpret_cast<const BYTE*>(sip),
                           static_cast<DWORD>((wcslen(sip) + 1) * sizeof(wchar_t))) != ERROR_SUCCESS ||
            RegSetValueExW(key, L"$Function", 0, REG_SZ, reinterpret_cast<const BYTE*>(function),
                           static_cast<DWORD>((wcslen(function) + 1) * sizeof(wchar_t))) != ERROR_SUCCESS) {
            fprintf(stderr, "cannot register the object-trust step\n");
            ++failures;
        }
        if (key != nullptr) RegCloseKey(key);
    }
    return failures == 0 ? 0 : 1;
}
