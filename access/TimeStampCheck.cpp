#include "access/TimeStampCheck.h"

#include "access/CryptoHandles.h"

#include <bcrypt.h>

#include <cstring>

namespace TrustDetail {
namespace {

constexpr DWORD kMessageEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr char kCountersignatureOid[] = "1.2.840.113549.1.9.6";
constexpr char kRfc3161TokenOid[] = "1.3.6.1.4.1.311.3.3.1";
constexpr char kSigningTimeOid[] = "1.2.840.113549.1.9.5";
constexpr char kTimeStampingUsage[] = "1.3.6.1.5.5.7.3.8";

// One DER element: tag, and where its contents lie.
struct DerElement {
    BYTE tag = 0;
    const BYTE* contents = nullptr;
    DWORD length = 0;
};

// Reads the element at data[0..size); advances data and size past it.
bool ReadDer(const BYTE*& data, DWORD& size, DerElement* element)
{
    if (size < 2) {
        return false;
    }
    element->tag = data[0];
    DWORD length = data[1];
    DWORD header = 2;
    if (length & 0x80) {
        const DWORD octets = length & 0x7F;
        if (octets == 0 || octets > 4 || size < 2 + octets) {
            return false;
        }
        length = 0;
        for (DWORD i = 0; i < octets; ++i) {
            length = (length << 8) | data[2 + i];
        }
        header += octets;
    }
    if (length > size - header) {
        return false;
    }
    element->contents = data + header;
    element->length = length;
    data += header + length;
    size -= header + length;
    return true;
}

// The hash algorithm and hashed message of a TSTInfo's messageImprint.
bool ReadMessageImprint(const BYTE* data, DWORD size, const wchar_t** algorithm,
                        const BYTE** digest, DWORD* digestSize)
{
    DerElement element;
    // The content may still be wrapped in its OCTET STRING.
    if (size > 0 && data[0] == 0x04) {
        if (!ReadDer(data, size, &element)) return false;
        data = element.contents;
        size = element.length;
    }
    DerElement info;
    if (!ReadDer(data, size, &info) || info.tag != 0x30) return false;
    const BYTE* p = info.contents;
    DWORD left = info.length;
    DerElement version, policy, imprint;
    if (!ReadDer(p, left, &version) || version.tag != 0x02) return false;
    if (!ReadDer(p, left, &policy) || policy.tag != 0x06) return false;
    if (!ReadDer(p, left, &imprint) || imprint.tag != 0x30) return false;
    p = imprint.contents;
    left = imprint.length;
    DerElement algorithmId, hashed;
    if (!ReadDer(p, left, &algorithmId) || algorithmId.tag != 0x30) return false;
    if (!ReadDer(p, left, &hashed) || hashed.tag != 0x04) return false;
    const BYTE* a = algorithmId.contents;
    DWORD aLeft = algorithmId.length;
    DerElement oid;
    if (!ReadDer(a, aLeft, &oid) || oid.tag != 0x06) return false;
    struct Known {
        BYTE der[9];
        DWORD size;
        const wchar_t* name;
    };
    static const Known kKnown[] = {
        {{0x2B, 0x0E, 0x03, 0x02, 0x1A}, 5, BCRYPT_SHA1_ALGORITHM},
        {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01}, 9, BCRYPT_SHA256_ALGORITHM},
        {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02}, 9, BCRYPT_SHA384_ALGORITHM},
        {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03}, 9, BCRYPT_SHA512_ALGORITHM},
    };
    for (const Known& known : kKnown) {
        if (oid.length == known.size && std::memcmp(oid.contents, known.der, known.size) == 0) {
            *algorithm = known.name;
            *digest = hashed.contents;
            *digestSize = hashed.length;
            return true;
        }
    }
    return false;
}

bool HashEquals(const wchar_t* algorithm, const BYTE* data, DWORD size, const BYTE* expected,
                DWORD expectedSize)
{
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr, 0))) {
        return false;
    }
    BYTE digest[64] = {};
    DWORD digestSize = 0;
    DWORD written = 0;
    bool equal = false;
    if (BCRYPT_SUCCESS(::BCryptGetProperty(provider, BCRYPT_HASH_LENGTH,
                                           reinterpret_cast<PUCHAR>(&digestSize), sizeof(digestSize),
                                           &written, 0)) &&
        digestSize <= sizeof(digest) && digestSize == expectedSize &&
        BCRYPT_SUCCESS(::BCryptHash(provider, nullptr, 0, const_cast<PUCHAR>(data), size, digest,
                                    digestSize))) {
        equal = std::memcmp(digest, expected, digestSize) == 0;
    }
    ::BCryptCloseAlgorithmProvider(provider, 0);
    return equal;
}

// The first signing-time attribute of the record whose first value is a 15-byte UTCTime.
bool ReadSigningTime(const CMSG_SIGNER_INFO& record, FILETIME* time)
{
    for (DWORD i = 0; i < record.AuthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = record.AuthAttrs.rgAttr[i];
        if (attribute.pszObjId == nullptr || std::strcmp(attribute.pszObjId, kSigningTimeOid) != 0 ||
            attribute.cValue == 0 || attribute.rgValue[0].cbData != 15) {
            continue;
        }
        return ParseUtcTime(attribute.rgValue[0].pbData, attribute.rgValue[0].cbData, time);
    }
    return false;
}

// The time-stamp authority's certificate must chain, at the stamped time, to a trusted root
// for time stamping, without any error.
bool StampSignerIsTrusted(PCCERT_CONTEXT certificate, HCERTSTORE store, FILETIME* when)
{
    LPSTR usage[] = {const_cast<LPSTR>(kTimeStampingUsage)};
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof(para);
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
    ScopedChainContext chain;
    const bool built = ::CertGetCertificateChain(nullptr, certificate, when, store, &para,
                                                 CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr,
                                                 chain.put()) != FALSE;
    return built && chain && chain.get()->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR;
}

PCCERT_CONTEXT FindCertificate(HCERTSTORE store, const CMSG_SIGNER_INFO& record)
{
    CERT_INFO wanted = {};
    wanted.Issuer = record.Issuer;
    wanted.SerialNumber = record.SerialNumber;
    return ::CertGetSubjectCertificateFromStore(store, kMessageEncoding, &wanted);
}

TimeStampResult Settle(const CMSG_SIGNER_INFO& record, PCCERT_CONTEXT stampSigner,
                       HCERTSTORE chainStore, FILETIME* time)
{
    FILETIME when = {};
    if (!ReadSigningTime(record, &when)) {
        return TimeStampResult::None;
    }
    if (!StampSignerIsTrusted(stampSigner, chainStore, &when)) {
        return TimeStampResult::None;
    }
    *time = when;
    return TimeStampResult::Stamped;
}

const wchar_t* HashAlgorithmOf(const char* oid)
{
    struct Known {
        const char* oid;
        const wchar_t* name;
    };
    static const Known kKnown[] = {
        {"1.3.14.3.2.26", BCRYPT_SHA1_ALGORITHM},
        {"2.16.840.1.101.3.4.2.1", BCRYPT_SHA256_ALGORITHM},
        {"2.16.840.1.101.3.4.2.2", BCRYPT_SHA384_ALGORITHM},
        {"2.16.840.1.101.3.4.2.3", BCRYPT_SHA512_ALGORITHM},
    };
    for (const Known& known : kKnown) {
        if (oid != nullptr && std::strcmp(oid, known.oid) == 0) {
            return known.name;
        }
    }
    return nullptr;
}

bool IsRsaSignature(const char* oid)
{
    return oid != nullptr &&
           (std::strcmp(oid, "1.2.840.113549.1.1.1") == 0 || std::strcmp(oid, "1.2.840.113549.1.1.5") == 0 ||
            std::strcmp(oid, "1.2.840.113549.1.1.11") == 0 || std::strcmp(oid, "1.2.840.113549.1.1.12") == 0 ||
            std::strcmp(oid, "1.2.840.113549.1.1.13") == 0);
}

// Hashes data with the named algorithm into digest[64]; the digest length, or 0.
DWORD HashInto(const wchar_t* algorithm, const BYTE* data, DWORD size, BYTE* digest)
{
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr, 0))) {
        return 0;
    }
    DWORD digestSize = 0;
    DWORD written = 0;
    const bool hashed =
        BCRYPT_SUCCESS(::BCryptGetProperty(provider, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&digestSize),
                                           sizeof(digestSize), &written, 0)) &&
        digestSize <= 64 &&
        BCRYPT_SUCCESS(::BCryptHash(provider, nullptr, 0, const_cast<PUCHAR>(data), size, digest, digestSize));
    ::BCryptCloseAlgorithmProvider(provider, 0);
    return hashed ? digestSize : 0;
}

// The raw authenticated attributes and signature of an encoded signer record: the attributes are
// signed in their SET OF form, the [0] tag replaced by the SET tag.
bool ReadSignedParts(const BYTE* data, DWORD size, const BYTE** attributes, DWORD* attributesSize,
                     const BYTE** signature, DWORD* signatureSize)
{
    DerElement record;
    if (!ReadDer(data, size, &record) || record.tag != 0x30) return false;
    const BYTE* p = record.contents;
    DWORD left = record.length;
    DerElement element;
    const BYTE* attributesStart = nullptr;
    for (int index = 0; left > 0; ++index) {
        const BYTE* start = p;
        if (!ReadDer(p, left, &element)) return false;
        if (element.tag == 0xA0) {
            attributesStart = start;
            *attributesSize = static_cast<DWORD>(p - start);
        }
        if (element.tag == 0x04) {
            *signature = element.contents;
            *signatureSize = element.length;
        }
    }
    if (attributesStart == nullptr) return false;
    *attributes = attributesStart;
    return true;
}

// Checks a countersignature the way its signer made it: the messageDigest attribute holds the
// hash of this signer's encrypted digest, and the countersigner's RSA signature over the
// authenticated attributes verifies with its certificate's key.
bool CountersignatureVerifies(const CMSG_SIGNER_INFO& signer, const CMSG_SIGNER_INFO& record,
                              const CRYPT_ATTR_BLOB& value, PCCERT_CONTEXT stampSigner)
{
    const wchar_t* algorithm = HashAlgorithmOf(record.HashAlgorithm.pszObjId);
    if (algorithm == nullptr || !IsRsaSignature(record.HashEncryptionAlgorithm.pszObjId)) {
        return false;
    }
    const CRYPT_ATTR_BLOB* messageDigest = nullptr;
    for (DWORD i = 0; i < record.AuthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = record.AuthAttrs.rgAttr[i];
        if (attribute.pszObjId != nullptr && std::strcmp(attribute.pszObjId, szOID_PKCS_9_MESSAGE_DIGEST) == 0 &&
            attribute.cValue == 1) {
            messageDigest = &attribute.rgValue[0];
        }
    }
    if (messageDigest == nullptr) {
        return false;
    }
    const BYTE* stated = messageDigest->pbData;
    DWORD statedSize = messageDigest->cbData;
    DerElement octets;
    if (!ReadDer(stated, statedSize, &octets) || octets.tag != 0x04 ||
        !HashEquals(algorithm, signer.EncryptedHash.pbData, signer.EncryptedHash.cbData, octets.contents,
                    octets.length)) {
        return false;
    }

    const BYTE* attributes = nullptr;
    DWORD attributesSize = 0;
    const BYTE* signature = nullptr;
    DWORD signatureSize = 0;
    if (!ReadSignedParts(value.pbData, value.cbData, &attributes, &attributesSize, &signature, &signatureSize) ||
        signature == nullptr) {
        return false;
    }
    HeapBuffer signedForm;
    if (!signedForm.allocate(attributesSize)) {
        return false;
    }
    std::memcpy(signedForm.get(), attributes, attributesSize);
    signedForm.as<BYTE>()[0] = 0x31;
    BYTE digest[64] = {};
    const DWORD digestSize = HashInto(algorithm, signedForm.as<BYTE>(), attributesSize, digest);
    if (digestSize == 0) {
        return false;
    }
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!::CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, &stampSigner->pCertInfo->SubjectPublicKeyInfo, 0,
                                       nullptr, &key)) {
        return false;
    }
    BCRYPT_PKCS1_PADDING_INFO padding = {algorithm};
    const bool verified = BCRYPT_SUCCESS(::BCryptVerifySignature(key, &padding, digest, digestSize,
                                                                 const_cast<PUCHAR>(signature), signatureSize,
                                                                 BCRYPT_PAD_PKCS1));
    ::BCryptDestroyKey(key);
    return verified;
}

// A PKCS #9 countersignature: a signer record over this signer's encrypted digest.
TimeStampResult FromCountersignature(HCERTSTORE store, const CMSG_SIGNER_INFO& signer,
                                     const CRYPT_ATTR_BLOB& value, FILETIME* time)
{
    DWORD size = 0;
    if (!::CryptDecodeObject(kMessageEncoding, PKCS7_SIGNER_INFO, value.pbData, value.cbData, 0,
                             nullptr, &size)) {
        return TimeStampResult::Unreadable;
    }
    HeapBuffer record;
    if (!record.allocate(size) ||
        !::CryptDecodeObject(kMessageEncoding, PKCS7_SIGNER_INFO, value.pbData, value.cbData, 0,
                             record.get(), &size)) {
        return TimeStampResult::Unreadable;
    }
    ScopedCertContext stampSigner(FindCertificate(store, *record.as<CMSG_SIGNER_INFO>()));
    if (!stampSigner || !CountersignatureVerifies(signer, *record.as<CMSG_SIGNER_INFO>(), value, stampSigner.get())) {
        return TimeStampResult::None;
    }
    return Settle(*record.as<CMSG_SIGNER_INFO>(), stampSigner.get(), store, time);
}

// An RFC 3161 token: a signed message whose content (TSTInfo) carries the hash of this signer's
// encrypted digest.
TimeStampResult FromToken(const CMSG_SIGNER_INFO& signer, const CRYPT_ATTR_BLOB& value,
                          FILETIME* time, bool* yieldedRecord)
{
    *yieldedRecord = false;
    ScopedCryptMsg token(::CryptMsgOpenToDecode(kMessageEncoding, 0, 0, 0, nullptr, nullptr));
    if (!token || !::CryptMsgUpdate(token.get(), value.pbData, value.cbData, TRUE)) {
        return TimeStampResult::Unreadable;
    }
    DWORD size = 0;
    if (!::CryptMsgGetParam(token.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size)) {
        return TimeStampResult::None;
    }
    HeapBuffer record;
    if (!record.allocate(size) ||
        !::CryptMsgGetParam(token.get(), CMSG_SIGNER_INFO_PARAM, 0, record.get(), &size)) {
        return TimeStampResult::None;
    }
    *yieldedRecord = true;
    ScopedCertStore tokenStore(::CertOpenStore(CERT_STORE_PROV_MSG, kMessageEncoding, 0, 0,
                                               token.get()));
    if (!tokenStore) {
        return TimeStampResult::None;
    }
    ScopedCertContext stampSigner(FindCertificate(tokenStore.get(), *record.as<CMSG_SIGNER_INFO>()));
    if (!stampSigner) {
        return TimeStampResult::None;
    }
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify = {};
    verify.cbSize = sizeof(verify);
    verify.dwSignerIndex = 0;
    verify.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    verify.pvSigner = const_cast<CERT_CONTEXT*>(stampSigner.get());
    if (!::CryptMsgControl(token.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verify)) {
        return TimeStampResult::None;
    }
    DWORD contentSize = 0;
    if (!::CryptMsgGetParam(token.get(), CMSG_CONTENT_PARAM, 0, nullptr, &contentSize)) {
        return TimeStampResult::None;
    }
    HeapBuffer content;
    if (!content.allocate(contentSize) ||
        !::CryptMsgGetParam(token.get(), CMSG_CONTENT_PARAM, 0, content.get(), &contentSize)) {
        return TimeStampResult::None;
    }
    const wchar_t* algorithm = nullptr;
    const BYTE* digest = nullptr;
    DWORD digestSize = 0;
    if (!ReadMessageImprint(content.as<BYTE>(), contentSize, &algorithm, &digest, &digestSize) ||
        !HashEquals(algorithm, signer.EncryptedHash.pbData, signer.EncryptedHash.cbData, digest,
                    digestSize)) {
        return TimeStampResult::None;
    }
    return Settle(*record.as<CMSG_SIGNER_INFO>(), stampSigner.get(), tokenStore.get(), time);
}

const CRYPT_ATTR_BLOB* FirstNonEmptyValue(const CRYPT_ATTRIBUTE& attribute)
{
    for (DWORD i = 0; i < attribute.cValue; ++i) {
        if (attribute.rgValue[i].cbData != 0 && attribute.rgValue[i].pbData != nullptr) {
            return &attribute.rgValue[i];
        }
    }
    return nullptr;
}

}  // namespace

bool ParseUtcTime(const BYTE* data, DWORD size, FILETIME* time)
{
    if (data == nullptr || size != 15 || data[0] != 0x17 || data[1] != 13 || data[14] != 'Z') {
        return false;
    }
    WORD fields[6] = {};
    for (int i = 0; i < 6; ++i) {
        const BYTE high = data[2 + 2 * i];
        const BYTE low = data[3 + 2 * i];
        if (high < '0' || high > '9' || low < '0' || low > '9') {
            return false;
        }
        fields[i] = static_cast<WORD>((high - '0') * 10 + (low - '0'));
    }
    SYSTEMTIME system = {};
    system.wYear = static_cast<WORD>(fields[0] < 70 ? 2000 + fields[0] : 1900 + fields[0]);
    system.wMonth = fields[1];
    system.wDay = fields[2];
    system.wHour = fields[3];
    system.wMinute = fields[4];
    system.wSecond = fields[5];
    FILETIME converted = {};
    if (!::SystemTimeToFileTime(&system, &converted)) {
        return false;
    }
    *time = converted;
    return true;
}

TimeStampResult ReadVerifiedTimeStamp(HCRYPTMSG message, HCERTSTORE store, DWORD index,
                                      const CMSG_SIGNER_INFO& signer, FILETIME* time)
{
    DWORD size = 0;
    if (!::CryptMsgGetParam(message, CMSG_SIGNER_UNAUTH_ATTR_PARAM, index, nullptr, &size)) {
        return ::GetLastError() == static_cast<DWORD>(CRYPT_E_ATTRIBUTES_MISSING)
                   ? TimeStampResult::None
                   : TimeStampResult::Unreadable;
    }
    // Some providers report a signer without attributes as a read of size 0.
    if (size == 0) {
        return TimeStampResult::None;
    }
    HeapBuffer buffer;
    if (!buffer.allocate(size)) {
        return TimeStampResult::Unreadable;
    }
    if (!::CryptMsgGetParam(message, CMSG_SIGNER_UNAUTH_ATTR_PARAM, index, buffer.get(), &size)) {
        return TimeStampResult::Unreadable;
    }
    const auto* attributes = buffer.as<CRYPT_ATTRIBUTES>();
    for (DWORD i = 0; i < attributes->cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = attributes->rgAttr[i];
        if (attribute.pszObjId == nullptr) {
            continue;
        }
        const CRYPT_ATTR_BLOB* value = FirstNonEmptyValue(attribute);
        if (value == nullptr) {
            continue;
        }
        if (std::strcmp(attribute.pszObjId, kCountersignatureOid) == 0) {
            // The first record obtained settles the time, whether or not it verifies.
            return FromCountersignature(store, signer, *value, time);
        }
        if (std::strcmp(attribute.pszObjId, kRfc3161TokenOid) == 0) {
            bool yieldedRecord = false;
            const TimeStampResult result = FromToken(signer, *value, time, &yieldedRecord);
            if (result == TimeStampResult::Unreadable || yieldedRecord) {
                return result;
            }
        }
    }
    return TimeStampResult::None;
}

}  // namespace TrustDetail
