// Test-prefix-only chain policy for CERT_CHAIN_POLICY_AUTHENTICODE_TS, which Wine lacks: it runs
// the Authenticode policy, whose chain checks are the ones the trust check relies on.

#include <windows.h>
#include <wincrypt.h>

extern "C" __declspec(dllexport) BOOL WINAPI VerifyAuthenticodeTsPolicy(
    LPCSTR /*policyOid*/, PCCERT_CHAIN_CONTEXT chain, PCERT_CHAIN_POLICY_PARA para,
    PCERT_CHAIN_POLICY_STATUS status)
{
    return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain, para, status);
}
