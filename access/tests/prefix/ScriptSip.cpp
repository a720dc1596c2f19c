// Test-prefix-only signature handler (SIP) for list files named "*.js", which Wine has none for,
// and a message-provider step that makes Wine's WinVerifyTrust check such a file's digest.
//
// Signed form: the text, then "\r\n// SIG // Begin signature block\r\n", lines "// SIG // " with
// the base64 of the PKCS #7 signature, and "// SIG // End signature block\r\n". The signed digest
// is the hash of the text before the block, each byte widened to a UTF-16LE unit (the form the
// build's signing tool hashes script text in).

#include <windows.h>
#include <bcrypt.h>
#include <mssip.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const GUID kSubject = {0x6a3c1e52, 0x0f4b, 0x4c8e, {0x9d, 0x21, 0x5b, 0x7e, 0x33, 0xa0, 0x19, 0xc4}};

constexpr char kBegin[] = "\r\n// SIG // Begin signature block\r\n";
constexpr char kLinePrefix[] = "// SIG // ";
constexpr char kEnd[] = "// SIG // End signature block";

bool ReadSubject(const SIP_SUBJECTINFO* subject, std::string* contents)
{
    HANDLE file = subject->hFile;
    bool own = false;
    if (file == nullptr || file == INVALID_HANDLE_VALUE) {
        file = CreateFileW(subject->pwsFileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        own = true;
    } else {
        SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    }
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (1 << 24);
    if (ok) {
        contents->resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        ok = contents->empty() || (ReadFile(file, contents->data(), static_cast<DWORD>(contents->size()), &read, nullptr) &&
                                   read == contents->size());
    }
    if (own) CloseHandle(file);
    return ok;
}

// Splits the file into the signed text and the decoded signature.
bool SplitSigned(const std::string& contents, std::string* text, std::vector<BYTE>* signature)
{
    const size_t begin = contents.rfind(kBegin);
    if (begin == std::string::npos) return false;
    *text = contents.substr(0, begin);
    std::string base64;
    size_t position = begin + std::strlen(kBegin);
    for (;;) {
        const size_t end = contents.find("\r\n", position);
        if (end == std::string::npos) return false;
        const std::string line = contents.substr(position, end - position);
        position = end + 2;
        if (line == kEnd) break;
        if (line.compare(0, std::strlen(kLinePrefix), kLinePrefix) != 0) return false;
        base64 += line.substr(std::strlen(kLinePrefix));
    }
    DWORD size = 0;
    if (!CryptStringToBinaryA(base64.c_str(), 0, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr)) return false;
    signature->resize(size);
    return CryptStringToBinaryA(base64.c_str(), 0, CRYPT_STRING_BASE64, signature->data(), &size, nullptr, nullptr) != FALSE;
}

}  // namespace

extern "C" {

__declspec(dllexport) BOOL WINAPI ScriptSipIsMyFileName(WCHAR* name, GUID* subject)
{
    if (name == nullptr) return FALSE;
    const size_t length = wcslen(name);
    if (length < 3 || _wcsicmp(name + length - 3, L".js") != 0) return FALSE;
    // The subject GUID is the one this handler was registered with.
    if (subject != nullptr) *subject = kSubject;
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI ScriptSipIsMyFile(HANDLE, GUID*) { return FALSE; }

__declspec(dllexport) BOOL WINAPI ScriptSipGetSignedDataMsg(SIP_SUBJECTINFO* subject, DWORD* encoding, DWORD index,
                                                            DWORD* size, BYTE* data)
{
    std::string contents, text;
    std::vector<BYTE> signature;
    if (subject == nullptr || size == nullptr || index != 0 || !ReadSubject(subject, &contents) ||
        !SplitSigned(contents, &text, &signature)) {
        SetLastError(TRUST_E_NOSIGNATURE);
        return FALSE;
    }
    if (encoding != nullptr) *encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    if (data == nullptr) {
        *size = static_cast<DWORD>(signature.size());
        return TRUE;
    }
    if (*size < signature.size()) {
        *size = static_cast<DWORD>(signature.size());
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(data, signature.data(), signature.size());
    *size = static_cast<DWORD>(signature.size());
    return TRUE;
}

__declspec(dllexport) BOOL WINAPI ScriptSipPutSignedDataMsg(SIP_SUBJECTINFO*, DWORD, DWORD*, DWORD, BYTE*) { return FALSE; }
__declspec(dllexport) BOOL WINAPI ScriptSipCreateIndirectData(SIP_SUBJECTINFO*, DWORD*, SIP_INDIRECT_DATA*) { return FALSE; }
__declspec(dllexport) BOOL WINAPI ScriptSipRemoveSignedDataMsg(SIP_SUBJECTINFO*, DWORD) { return FALSE; }

__declspec(dllexport) BOOL WINAPI ScriptSipVerifyIndirectData(SIP_SUBJECTINFO* subject, SIP_INDIRECT_DATA* indirect)
{
    std::string contents, text;
    std::vector<BYTE> signature;
    if (subject == nullptr || indirect == nullptr || !ReadSubject(subject, &contents) ||
        !SplitSigned(contents, &text, &signature)) {
        SetLastError(TRUST_E_NOSIGNATURE);
        return FALSE;
    }
    const char* oid = indirect->DigestAlgorithm.pszObjId;
    const wchar_t* algorithm = nullptr;
    ULONG digestSize = 0;
    if (oid != nullptr && strcmp(oid, szOID_NIST_sha256) == 0) {
        algorithm = BCRYPT_SHA256_ALGORITHM;
        digestSize = 32;
    }
    if (oid != nullptr && strcmp(oid, szOID_OIWSEC_sha1) == 0) {
        algorithm = BCRYPT_SHA1_ALGORITHM;
        digestSize = 20;
    }
    if (algorithm == nullptr) {
        SetLastError(NTE_BAD_ALGID);
        return FALSE;
    }
    std::vector<BYTE> wide;
    wide.reserve(text.size() * 2);
    for (unsigned char c : text) {
        wide.push_back(c);
        wide.push_back(0);
    }
    BCRYPT_ALG_HANDLE provider = nullptr;
    BYTE digest[32] = {};
    bool match = false;
    if (BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr, 0))) {
        if (BCRYPT_SUCCESS(BCryptHash(provider, nullptr, 0, wide.data(), static_cast<ULONG>(wide.size()), digest, digestSize))) {
            match = indirect->Digest.cbData == digestSize && memcmp(indirect->Digest.pbData, digest, digestSize) == 0;
        }
        BCryptCloseAlgorithmProvider(provider, 0);
    }
    if (!match) {
        SetLastError(TRUST_E_BAD_DIGEST);
        return FALSE;
    }
    return TRUE;
}

// Wine's object-trust step (SoftpubLoadMessage) checks the file digest of PE images only. This
// step, registered in the test prefix in its place, runs it and then has this handler check the
// digest of a list file, as WinVerifyTrust does on Windows.
__declspec(dllexport) HRESULT WINAPI ScriptSipLoadMessage(CRYPT_PROVIDER_DATA* data)
{
    using LoadMessageFn = HRESULT(WINAPI*)(CRYPT_PROVIDER_DATA*);
    static const LoadMessageFn loadMessage = reinterpret_cast<LoadMessageFn>(
        reinterpret_cast<void*>(GetProcAddress(LoadLibraryExW(L"wintrust.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32),
                                               "SoftpubLoadMessage")));
    if (loadMessage == nullptr) return S_FALSE;
    const HRESULT result = loadMessage(data);
    if (result != S_OK || data == nullptr || data->pPDSip == nullptr || data->pPDSip->gSubject != kSubject) {
        return result;
    }
    if (!ScriptSipVerifyIndirectData(data->pPDSip->psSipSubjectInfo, data->pPDSip->psIndirectData)) {
        data->padwTrustStepErrors[TRUSTERROR_STEP_FINAL_OBJPROV] = static_cast<DWORD>(TRUST_E_BAD_DIGEST);
        return S_FALSE;
    }
    return S_OK;
}

}  // extern "C"
