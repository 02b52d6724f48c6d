#include "softwareinfo.h"

QJsonObject SoftwareInfo::toReportJson() const
{
    return QJsonObject{
        {QStringLiteral("name"), name},
        {QStringLiteral("version"), version},
        {QStringLiteral("publisher"), publisher},
        {QStringLiteral("install_path"), installPath},
        {QStringLiteral("executable_path"), executablePath},
        {QStringLiteral("install_date"), installDate},
        {QStringLiteral("file_size"), fileSize},
        {QStringLiteral("file_hash_md5"), fileHashMd5},
        {QStringLiteral("file_hash_sha256"), fileHashSha256},
        {QStringLiteral("digital_signer"), digitalSigner},
        {QStringLiteral("process_name"), processName},
        {QStringLiteral("port_list"), portList},
        {QStringLiteral("network_info"), networkInfo},
    };
}

bool SoftwareInfo::operator==(const SoftwareInfo &other) const
{
    return name == other.name && version == other.version && publisher == other.publisher
           && installPath == other.installPath && executablePath == other.executablePath
           && uninstallString == other.uninstallString && installDate == other.installDate && fileSize == other.fileSize
           && fileHashMd5 == other.fileHashMd5 && fileHashSha256 == other.fileHashSha256
           && digitalSigner == other.digitalSigner && processName == other.processName && portList == other.portList
           && networkInfo == other.networkInfo;
}
