#pragma once
// The time stamp of one signer of an Authenticode message, taken only when it verifies.

#include <windows.h>
#include <wincrypt.h>

namespace TrustDetail {

enum class TimeStampResult {
    Stamped,     // a verified time stamp; *time holds its signing time (UTC)
    None,        // no time stamp that counts: the chain is built for the current time
    Unreadable,  // the attributes could not be read or decoded: the signer is passed over
};

// Reads the unauthenticated attributes of signer index of message (store: the message's
// certificates) and returns the signing time of its first countersignature (PKCS #9) or RFC 3161
// time-stamp token. The stamp counts only when its signature verifies with its signer's
// certificate, it is bound to this signer's signature (the countersignature's messageDigest, or
// the token's message imprint, is the hash of this signer's encrypted digest), its signer chains
// to a trusted root for time stamping at the stamped time, and its signing time is a 15-byte
// UTCTime that converts. A countersignature is verified here from its DER form with CNG rather
// than with CryptMsgVerifyCountersignatureEncodedEx, which not every platform implements.
// *time is written only for Stamped.
[[nodiscard]] TimeStampResult ReadVerifiedTimeStamp(HCRYPTMSG message, HCERTSTORE store, DWORD index,
                                                    const CMSG_SIGNER_INFO& signer, FILETIME* time);

// Reads a DER UTCTime of exactly 15 bytes (tag, length 13, YYMMDDhhmmss, "Z"); years below 70
// are 20YY. False when the value is of another form or the time does not convert.
[[nodiscard]] bool ParseUtcTime(const BYTE* data, DWORD size, FILETIME* time);

}  // namespace TrustDetail
