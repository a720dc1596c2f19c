// VerifyFileSigner: one file's embedded Authenticode signature against one signer list.

#include "access/CryptoHandles.h"
#include "access/ModuleTrust.h"
#include "access/SignatureChecks.h"
#include "access/TimeStampCheck.h"
#include "access/WinTrustFileCheck.h"

#include <cstring>
#include <cwchar>

using namespace TrustDetail;

namespace {

constexpr DWORD kMessageEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr char kCodeSigningUsage[] = "1.3.6.1.5.5.7.3.3";

// Hex digits of a serial number without leading zeros, so that "00c0ffee" and "c0ffee" meet.
const wchar_t* SkipLeadingZeros(const wchar_t* text)
{
    while (*text == L'0') {
        ++text;
    }
    return text;
}

// The signer's serial number as text, most significant byte first, two lower-case digits a byte.
// The blob holds the bytes least significant first.
bool SerialIsSkipped(const CRYPT_INTEGER_BLOB& serial, const wchar_t* const* skipList)
{
    if (skipList == nullptr || skipList[0] == nullptr) {
        return false;
    }
    HeapBuffer text;
    if (!text.allocate((static_cast<std::size_t>(serial.cbData) * 2 + 1) * sizeof(wchar_t))) {
        return true;  // cannot tell: never let an unreadable serial slip past the skip list
    }
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    wchar_t* out = text.as<wchar_t>();
    for (DWORD i = serial.cbData; i > 0; --i) {
        const BYTE b = serial.pbData[i - 1];
        *out++ = kDigits[b >> 4];
        *out++ = kDigits[b & 0xF];
    }
    *out = L'\0';
    const wchar_t* own = SkipLeadingZeros(text.as<wchar_t>());
    for (const wchar_t* const* entry = skipList; *entry != nullptr; ++entry) {
        if (::_wcsicmp(own, SkipLeadingZeros(*entry)) == 0) {
            return true;
        }
    }
    return false;
}

bool NameIsListed(PCCERT_CONTEXT certificate, const wchar_t* const* names)
{
    const DWORD length = ::CertGetNameStringW(certificate, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0,
                                              nullptr, nullptr, 0);
    // The length counts the terminator: 0 is a failure and 1 an empty name.
    if (length <= 1) {
        return false;
    }
    HeapBuffer name;
    if (!name.allocate(static_cast<std::size_t>(length) * sizeof(wchar_t))) {
        return false;
    }
    if (::CertGetNameStringW(certificate, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr,
                             name.as<wchar_t>(), length) <= 1) {
        return false;
    }
    if (names == nullptr) {
        return true;
    }
    for (const wchar_t* const* entry = names; *entry != nullptr; ++entry) {
        if (::_wcsicmp(name.as<wchar_t>(), *entry) == 0) {
            return true;
        }
    }
    return false;
}

enum class RootMatch { Match, NoMatch, Failure };

// Compares the root of every simple chain of one chain context with the thumbprints.
RootMatch MatchRoot(PCCERT_CHAIN_CONTEXT chain, const BYTE* const* thumbprints, DWORD count)
{
    for (DWORD c = 0; c < chain->cChain; ++c) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[c];
        if (simple == nullptr || simple->cElement == 0) {
            continue;
        }
        PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
        BYTE hash[20] = {};
        DWORD hashSize = sizeof(hash);
        const bool read = ::CertGetCertificateContextProperty(root, CERT_SHA1_HASH_PROP_ID, hash,
                                                              &hashSize) != FALSE;
        if (!read || hashSize != sizeof(hash)) {
            return RootMatch::Failure;
        }
        if (thumbprints == nullptr || count == 0) {
            return RootMatch::Match;
        }
        for (DWORD t = 0; t < count; ++t) {
            if (thumbprints[t] != nullptr && std::memcmp(thumbprints[t], hash, sizeof(hash)) == 0) {
                return RootMatch::Match;
            }
        }
    }
    return RootMatch::NoMatch;
}

// The chain context whose root is listed, looked for among the contexts whose error status is 0:
// the main one first, then the lower-quality ones in order. Null when none.
PCCERT_CHAIN_CONTEXT FindListedChain(PCCERT_CHAIN_CONTEXT chain, const BYTE* const* thumbprints,
                                     DWORD count)
{
    if (chain->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR) {
        const RootMatch match = MatchRoot(chain, thumbprints, count);
        if (match == RootMatch::Match) {
            return chain;
        }
    }
    for (DWORD i = 0; i < chain->cLowerQualityChainContext; ++i) {
        PCCERT_CHAIN_CONTEXT lower = chain->rgpLowerQualityChainContext[i];
        if (lower == nullptr || lower->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) {
            continue;
        }
        if (MatchRoot(lower, thumbprints, count) == RootMatch::Match) {
            return lower;
        }
    }
    return nullptr;
}

enum class SignerResult { Passed, PassedOver, Abort };

SignerResult CheckOneSigner(const wchar_t* path, HCRYPTMSG message, HCERTSTORE store, DWORD index,
                            const TrustedSignerList& list)
{
    // a. Signer information.
    DWORD infoSize = 0;
    if (!::CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, index, nullptr, &infoSize) ||
        infoSize == 0) {
        return SignerResult::PassedOver;
    }
    HeapBuffer infoBuffer;
    if (!infoBuffer.allocate(infoSize)) {
        return SignerResult::Abort;
    }
    if (!::CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, index, infoBuffer.get(), &infoSize)) {
        return SignerResult::PassedOver;
    }
    const auto* info = infoBuffer.as<CMSG_SIGNER_INFO>();

    // b. Serial skip list.
    if (SerialIsSkipped(info->SerialNumber, list.serialSkipList)) {
        return SignerResult::PassedOver;
    }

    // c. The signer's certificate, from the message's own store.
    CERT_INFO wanted = {};
    wanted.Issuer = info->Issuer;
    wanted.SerialNumber = info->SerialNumber;
    ScopedCertContext certificate(
        ::CertGetSubjectCertificateFromStore(store, kMessageEncoding, &wanted));
    if (!certificate) {
        return SignerResult::PassedOver;
    }

    // d. Name.
    if (list.organisationNames != nullptr && list.organisationNames[0] == nullptr) {
        return SignerResult::PassedOver;
    }
    if (!NameIsListed(certificate.get(), list.organisationNames)) {
        return SignerResult::PassedOver;
    }

    // e. Time stamp: counts only when it verifies; otherwise the chain is built for now.
    FILETIME stampTime = {};
    bool stamped = false;
    switch (ReadVerifiedTimeStamp(message, store, index, *info, &stampTime)) {
    case TimeStampResult::Stamped:
        stamped = true;
        break;
    case TimeStampResult::None:
        break;
    case TimeStampResult::Unreadable:
        return SignerResult::PassedOver;
    }

    // f. Chain for code signing, at the time stamp or now.
    LPSTR usage[] = {const_cast<LPSTR>(kCodeSigningUsage)};
    CERT_CHAIN_PARA chainPara = {};
    chainPara.cbSize = sizeof(chainPara);
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
    ScopedChainContext chain;
    const bool built = ::CertGetCertificateChain(
                           nullptr, certificate.get(), stamped ? &stampTime : nullptr, store,
                           &chainPara,
                           CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_RETURN_LOWER_QUALITY_CONTEXTS,
                           nullptr, chain.put()) != FALSE;
    if (!built || !chain || chain.get()->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) {
        return SignerResult::PassedOver;
    }

    // g. Root pin, only on a chain context without errors.
    PCCERT_CHAIN_CONTEXT listed = FindListedChain(chain.get(), list.thumbprints, list.thumbprintCount);
    if (listed == nullptr) {
        return SignerResult::PassedOver;
    }

    // h. Authenticode policy with time-stamp semantics, on the context that carries the pin.
    CERT_CHAIN_POLICY_PARA policyPara = {};
    policyPara.cbSize = sizeof(policyPara);
    CERT_CHAIN_POLICY_STATUS policyStatus = {};
    policyStatus.cbSize = sizeof(policyStatus);
    const bool policyRan = ::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE_TS,
                                                              listed, &policyPara,
                                                              &policyStatus) != FALSE;
    if (!policyRan || policyStatus.dwError != 0) {
        return SignerResult::PassedOver;
    }

    // i. This signer's own signature over the message: the one that passed the steps above is
    // the one that must have signed.
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verifyPara = {};
    verifyPara.cbSize = sizeof(verifyPara);
    verifyPara.dwSignerIndex = index;
    verifyPara.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    verifyPara.pvSigner = const_cast<CERT_CONTEXT*>(certificate.get());
    if (!::CryptMsgControl(message, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verifyPara)) {
        return SignerResult::PassedOver;
    }

    // j. The file's hash against the signature.
    if (!FileSignatureVerifies(path)) {
        return SignerResult::PassedOver;
    }
    return SignerResult::Passed;
}

}  // namespace

int VerifyFileSigner(const wchar_t* path, const wchar_t* const* organisationNames,
                     const BYTE* const* thumbprints, DWORD thumbprintCount,
                     const wchar_t* const* serialSkipList)
{
    TrustedSignerList list;
    list.organisationNames = organisationNames;
    list.thumbprints = thumbprints;
    list.thumbprintCount = thumbprintCount;
    list.serialSkipList = serialSkipList;
    return VerifyFileSigner(path, list);
}

int VerifyFileSigner(const wchar_t* path, const TrustedSignerList& list)
{
    if (path == nullptr || path[0] == L'\0') {
        return 0;
    }
    ScopedCertStore store;
    ScopedCryptMsg message;
    if (!OpenEmbeddedSignature(path, store, message)) {
        return 0;
    }
    DWORD signerCount = 0;
    DWORD countSize = sizeof(signerCount);
    if (!::CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signerCount, &countSize) ||
        signerCount == 0) {
        return 0;
    }
    for (DWORD index = 0; index < signerCount; ++index) {
        switch (CheckOneSigner(path, message.get(), store.get(), index, list)) {
        case SignerResult::Passed:
            return 1;
        case SignerResult::Abort:
            return 0;
        case SignerResult::PassedOver:
            break;
        }
    }
    return 0;
}

bool TrustDetail::OpenEmbeddedSignature(const wchar_t* path, ScopedCertStore& store, ScopedCryptMsg& message)
{
    DWORD encoding = 0;
    DWORD contentType = 0;
    DWORD formatType = 0;
    HCERTSTORE rawStore = nullptr;
    HCRYPTMSG rawMessage = nullptr;
    const bool queried = ::CryptQueryObject(CERT_QUERY_OBJECT_FILE, path,
                                            CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                                            CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding,
                                            &contentType, &formatType, &rawStore, &rawMessage,
                                            nullptr) != FALSE;
    store.reset(rawStore);
    message.reset(rawMessage);
    if (!queried || !store || !message) {
        store.reset();
        message.reset();
        return false;
    }
    return true;
}

bool TrustDetail::FileSignatureVerifies(const wchar_t* path)
{
    WinTrustFileCheck check(path, WTD_NO_POLICY_USAGE_FLAG | WTD_REVOCATION_CHECK_NONE | WTD_HASH_ONLY_FLAG |
                                      WTD_CACHE_ONLY_URL_RETRIEVAL);
    return check.Verify() == 0;
}
