#include "inventorysource.h"

#include "scanrules.h"

#include <QProcess>
#include <QSettings>

#include <memory>
#include <string>
#include <vector>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <softpub.h>
#include <tlhelp32.h>
#include <wincrypt.h>
#include <wintrust.h>

namespace InventorySource {

namespace {

// One uninstall key of the registry; each subkey is one product.
class RegistryRoot : public UninstallRoot
{
public:
    explicit RegistryRoot(const QString &path) : m_settings(path, QSettings::NativeFormat) {}
    QStringList entries() override { return m_settings.childGroups(); }
    QString value(const QString &entry, const QString &name) override
    {
        m_settings.beginGroup(entry);
        const QString text = m_settings.value(name).toString();
        m_settings.endGroup();
        return text;
    }

private:
    QSettings m_settings;
};

struct HandleCloser
{
    void operator()(HANDLE handle) const
    {
        if (handle && handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

} // namespace

std::vector<std::unique_ptr<UninstallRoot>> openUninstallRoots(const QString &)
{
    std::vector<std::unique_ptr<UninstallRoot>> roots;
    roots.push_back(std::make_unique<RegistryRoot>(
        QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall")));
    roots.push_back(std::make_unique<RegistryRoot>(
        QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall")));
    roots.push_back(std::make_unique<RegistryRoot>(
        QStringLiteral("HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall")));
    return roots;
}

QList<ProcessEntry> processSnapshot(bool *ok)
{
    QList<ProcessEntry> entries;
    const Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == INVALID_HANDLE_VALUE) {
        *ok = false;
        return entries;
    }
    PROCESSENTRY32W entry;
    ZeroMemory(&entry, sizeof(entry));
    entry.dwSize = sizeof(PROCESSENTRY32W);
    if (Process32FirstW(snapshot.get(), &entry)) {
        do {
            ProcessEntry process;
            process.pid = entry.th32ProcessID;
            process.exeName = QString::fromWCharArray(entry.szExeFile);
            entries.append(process);
        } while (Process32NextW(snapshot.get(), &entry));
    }
    *ok = true;
    return entries;
}

QString processImagePath(const ProcessEntry &entry)
{
    if (entry.imageKnown)
        return entry.imagePath;
    const Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.pid));
    if (!process)
        return QString();
    wchar_t path[MAX_PATH];
    DWORD length = MAX_PATH;
    if (!QueryFullProcessImageNameW(process.get(), 0, path, &length))
        return QString();
    return QString::fromWCharArray(path, int(length));
}

QStringList platformExcludedProcesses()
{
    return {};
}

QString listeningPorts()
{
    QProcess netstat;
    netstat.start(QStringLiteral("netstat"), {QStringLiteral("-ano")}, QIODevice::ReadWrite);
    netstat.waitForFinished(5000);
    return ScanRules::parseNetstatListeningPorts(netstat.readAllStandardOutput()).join(QLatin1Char(','));
}

QString digitalSigner(const QString &filePath)
{
    const std::wstring path = filePath.toStdWString();

    WINTRUST_FILE_INFO fileInfo;
    ZeroMemory(&fileInfo, sizeof(fileInfo));
    fileInfo.cbStruct = sizeof(WINTRUST_FILE_INFO);
    fileInfo.pcwszFilePath = path.c_str();
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
    trustData.pSignatureSettings = nullptr;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    QString signer;
    if (WinVerifyTrust(nullptr, &action, &trustData) == 0) {
        CRYPT_PROVIDER_DATA *provider = WTHelperProvDataFromStateData(trustData.hWVTStateData);
        CRYPT_PROVIDER_SGNR *providerSigner =
            provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
        CRYPT_PROVIDER_CERT *providerCert =
            providerSigner ? WTHelperGetProvCertFromChain(providerSigner, 0) : nullptr;
        if (providerCert && providerCert->pCert) {
            const DWORD length =
                CertGetNameStringW(providerCert->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
            if (length > 0) {
                std::vector<wchar_t> name(length);
                CertGetNameStringW(providerCert->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(),
                                   length);
                signer = QString::fromWCharArray(name.data());
            }
        }
    }
    // Releases the verification state, also after a failed check.
    trustData.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(nullptr, &action, &trustData);
    return signer;
}

bool isNativeExecutable(const QFileInfo &)
{
    return false;
}

} // namespace InventorySource
