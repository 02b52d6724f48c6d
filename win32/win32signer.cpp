#include "win32api.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>
// clang-format on

#include <vector>

namespace Win32 {

std::wstring authenticodeSigner(const std::wstring &filePath, long *status)
{
    WINTRUST_FILE_INFO fileInfo;
    ZeroMemory(&fileInfo, sizeof(fileInfo));
    fileInfo.cbStruct = sizeof(WINTRUST_FILE_INFO);
    fileInfo.pcwszFilePath = filePath.c_str();
    fileInfo.hFile = nullptr;
    fileInfo.pgKnownSubject = nullptr;

    WINTRUST_DATA trustData;
    ZeroMemory(&trustData, sizeof(trustData));
    trustData.cbStruct = sizeof(WINTRUST_DATA);
    trustData.pPolicyCallbackData = nullptr;
    trustData.pSIPClientData = nullptr;
    trustData.dwUIChoice = WTD_UI_NONE;
    trustData.fdwRevocationChecks = WTD_REVOKE_NONE;
    trustData.dwUnionChoice = WTD_CHOICE_FILE;
    trustData.pFile = &fileInfo;
    trustData.dwStateAction = WTD_STATEACTION_VERIFY;
    trustData.hWVTStateData = nullptr;
    trustData.pwszURLReference = nullptr;
    trustData.dwProvFlags = 0;
    trustData.dwUIContext = 0;
    // pSignatureSettings (newer SDKs only) stays zero from ZeroMemory.

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    std::wstring signer;
    const LONG verified = WinVerifyTrust(nullptr, &action, &trustData);
    if (status)
        *status = verified;
    if (verified == 0) {
        CRYPT_PROVIDER_DATA *provider = WTHelperProvDataFromStateData(trustData.hWVTStateData);
        CRYPT_PROVIDER_SGNR *providerSigner
            = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
        CRYPT_PROVIDER_CERT *providerCert = providerSigner ? WTHelperGetProvCertFromChain(providerSigner, 0) : nullptr;
        if (providerCert && providerCert->pCert) {
            const DWORD length
                = CertGetNameStringW(providerCert->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
            if (length > 0) {
                std::vector<wchar_t> name(length);
                CertGetNameStringW(providerCert->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), length);
                signer = name.data();
            }
        }
    }
    // Releases the verification state, also after a failed check.
    trustData.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(nullptr, &action, &trustData);
    return signer;
}

} // namespace Win32
