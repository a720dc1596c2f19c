// The module trust check against its fair floor: IsFileTrusted on a signed file (no validation
// service, the test's built-in signer list, no list file) and, on the same file, the platform
// calls that one such check has to make for a file with one signer: the embedded signature
// opened, the signer count and information read, the signer's certificate found and named, its
// unauthenticated attributes looked at, its chain built for code signing, the root's hash read,
// the time-stamp-aware Authenticode policy run and the file verified with WinVerifyTrust; then
// everything freed. The old floor, a bare WinVerifyTrust with its state closed, is measured in
// the same rounds and printed for information. Rounds take turns in their order; the medians of
// the rounds' times per check are compared.
//
// Needs the build's test Wine prefix (test root and policy set up there); scripts/bench runs it
// with WINEPREFIX set to it:  OrdwellTrustBench.exe [checks]

#include "access/ModuleTrust.h"
#include "access/WinTrustFileCheck.h"
#include "access/tests/TrustTestSupport.h"
#include "core/base/StringFormat.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr DWORD kMessageEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end, const LARGE_INTEGER& frequency)
{
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

// What a caller without the trust layer would do: verify, then release the state.
bool BareWinVerifyTrust(const wchar_t* path)
{
    WinTrustFileCheck check(path, WTD_REVOCATION_CHECK_NONE);
    return check.Verify() == 0;
}

// The platform calls of one check of a file with one signer, in the check's order, with no
// logic of the trust layer between them. True when every call succeeded.
bool PlatformWorkOfOneCheck(const wchar_t* path)
{
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    DWORD encoding = 0;
    DWORD contentType = 0;
    DWORD formatType = 0;
    if (!::CryptQueryObject(CERT_QUERY_OBJECT_FILE, path, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                            CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &formatType, &store, &message,
                            nullptr)) {
        return false;
    }
    bool passed = false;
    DWORD signers = 0;
    DWORD size = sizeof(signers);
    DWORD infoSize = 0;
    BYTE* info = nullptr;
    PCCERT_CONTEXT certificate = nullptr;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (::CryptMsgGetParam(message, CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) && signers > 0 &&
        ::CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &infoSize) &&
        (info = static_cast<BYTE*>(::HeapAlloc(::GetProcessHeap(), 0, infoSize))) != nullptr &&
        ::CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, info, &infoSize)) {
        const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(info);
        CERT_INFO wanted = {};
        wanted.Issuer = signer->Issuer;
        wanted.SerialNumber = signer->SerialNumber;
        certificate = ::CertGetSubjectCertificateFromStore(store, kMessageEncoding, &wanted);
        wchar_t name[256] = {};
        DWORD attributesSize = 0;
        const DWORD nameLength =
            certificate != nullptr ? ::CertGetNameStringW(certificate, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr,
                                                          nullptr, 0)
                                   : 0;
        if (nameLength > 1 && nameLength <= 256 &&
            ::CertGetNameStringW(certificate, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, name, nameLength) > 1) {
            // No time stamp on the test file: the attributes are missing.
            (void)::CryptMsgGetParam(message, CMSG_SIGNER_UNAUTH_ATTR_PARAM, 0, nullptr, &attributesSize);
            LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING)};
            CERT_CHAIN_PARA chainPara = {};
            chainPara.cbSize = sizeof(chainPara);
            chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
            chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
            chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
            BYTE hash[20] = {};
            DWORD hashSize = sizeof(hash);
            CERT_CHAIN_POLICY_PARA policyPara = {};
            policyPara.cbSize = sizeof(policyPara);
            CERT_CHAIN_POLICY_STATUS policyStatus = {};
            policyStatus.cbSize = sizeof(policyStatus);
            passed = ::CertGetCertificateChain(nullptr, certificate, nullptr, store, &chainPara,
                                               CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL |
                                                   CERT_CHAIN_RETURN_LOWER_QUALITY_CONTEXTS,
                                               nullptr, &chain) &&
                     chain->TrustStatus.dwErrorStatus == 0 && chain->cChain > 0 &&
                     ::CertGetCertificateContextProperty(
                         chain->rgpChain[0]->rgpElement[chain->rgpChain[0]->cElement - 1]->pCertContext,
                         CERT_SHA1_HASH_PROP_ID, hash, &hashSize) &&
                     ::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE_TS, chain, &policyPara,
                                                        &policyStatus) &&
                     policyStatus.dwError == 0;
            if (passed) {
                WinTrustFileCheck check(path, WTD_NO_POLICY_USAGE_FLAG | WTD_REVOCATION_CHECK_NONE |
                                                  WTD_HASH_ONLY_FLAG | WTD_CACHE_ONLY_URL_RETRIEVAL);
                passed = check.Verify() == 0;
            }
        }
    }
    if (chain != nullptr) ::CertFreeCertificateChain(chain);
    if (certificate != nullptr) ::CertFreeCertificateContext(certificate);
    if (info != nullptr) ::HeapFree(::GetProcessHeap(), 0, info);
    ::CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG);
    ::CryptMsgClose(message);
    return passed;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const unsigned long checks = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 400;
    const std::wstring file = TrustTesting::SignedFile(L"good.dll");

    wchar_t temp[MAX_PATH] = {};
    (void)::GetTempPathW(MAX_PATH, temp);
    wchar_t atom[64];
    (void)Fundor::FormatW(atom, std::size(atom), L"OrdwellTrustBench_%lu", ::GetCurrentProcessId());
    // No list file at this path: the built-in list decides, as on a machine without one.
    TrustedPublisherList listFile(std::wstring(temp) + atom + L"\\trusted.js", TrustTesting::ListSignerPin(), atom, 7,
                                  300);
    const TrustedSignerList builtIn = TrustTesting::TestBuiltInList();

    const DWORD trusted = IsFileTrusted(nullptr, file.c_str(), builtIn, listFile);
    if (trusted != 0 || !PlatformWorkOfOneCheck(file.c_str()) || !BareWinVerifyTrust(file.c_str())) {
        std::fprintf(stderr, "the signed test file is not trusted here (IsFileTrusted %lu): run inside the build's "
                             "test prefix\n",
                     trusted);
        return 1;
    }

    struct Contestant {
        const char* label;
        bool (*check)(const wchar_t* path);
        std::vector<double> perCheck;  // seconds, one per round
    };
    static TrustedPublisherList* s_listFile = &listFile;
    static const TrustedSignerList* s_builtIn = &builtIn;
    Contestant contestants[] = {
        {"IsFileTrusted", [](const wchar_t* path) { return IsFileTrusted(nullptr, path, *s_builtIn, *s_listFile) == 0; }, {}},
        {"fair floor (platform calls)", PlatformWorkOfOneCheck, {}},
        {"old floor: WinVerifyTrust", BareWinVerifyTrust, {}},
    };
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    constexpr unsigned long kRounds = 15;
    unsigned long failures = 0;
    for (unsigned long round = 0; round < kRounds; ++round) {
        const unsigned long count = checks * (round + 1) / kRounds - checks * round / kRounds;
        if (count == 0) continue;
        for (std::size_t turn = 0; turn < std::size(contestants); ++turn) {
            Contestant& contestant = contestants[(round + turn) % std::size(contestants)];
            LARGE_INTEGER start{};
            LARGE_INTEGER end{};
            ::QueryPerformanceCounter(&start);
            for (unsigned long i = 0; i < count; ++i) {
                if (!contestant.check(file.c_str())) ++failures;
            }
            ::QueryPerformanceCounter(&end);
            contestant.perCheck.push_back(Seconds(start, end, frequency) / count);
        }
    }
    if (contestants[0].perCheck.empty()) {
        std::fprintf(stderr, "no checks\n");
        return 1;
    }

    std::printf("checks             %lu of each in %lu rounds on %ls\n", checks, kRounds, file.c_str());
    for (const Contestant& contestant : contestants) {
        std::printf("%-30s %8.3f ms per check (median of the rounds)\n", contestant.label,
                    Median(contestant.perCheck) * 1000.0);
    }
    const double trust = Median(contestants[0].perCheck);
    std::printf("old ratio (information): %.2f over a bare WinVerifyTrust\n", trust / Median(contestants[2].perCheck));
    std::printf("failures           %lu\n", failures);
    std::printf("ratio %.2f (IsFileTrusted / fair floor; goal at most 1.05)\n", trust / Median(contestants[1].perCheck));
    return failures == 0 ? 0 : 2;
}
