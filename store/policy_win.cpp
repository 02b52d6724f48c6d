#include "policy.h"

#include "win32api.h"

namespace {

const QLatin1String machineRoot("HKEY_LOCAL_MACHINE\\");
const QLatin1String userRoot("HKEY_CURRENT_USER\\");

Policy::RegistryKey convert(const Win32::RegistryTree &tree)
{
    Policy::RegistryKey key;
    for (const auto &[name, value] : tree.values) {
        QVariant converted;
        if (value.type == Win32::RegistryValue::Type::Dword)
            converted = QVariant::fromValue(uint(value.dword));
        else if (value.type == Win32::RegistryValue::Type::Text)
            converted = QString::fromStdWString(value.text);
        key.values.append({QString::fromStdWString(name), converted});
    }
    for (const auto &[name, subkey] : tree.keys)
        key.keys.append({QString::fromStdWString(name), convert(subkey)});
    return key;
}

} // namespace

QString Policy::defaultLocation()
{
    return QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Policies\\Kestrum\\SSLVPN");
}

Policy Policy::read(const QString &location)
{
    Win32::RegistryRoot root;
    QString path;
    if (location.startsWith(machineRoot, Qt::CaseInsensitive)) {
        root = Win32::RegistryRoot::LocalMachine;
        path = location.mid(machineRoot.size());
    } else if (location.startsWith(userRoot, Qt::CaseInsensitive)) {
        root = Win32::RegistryRoot::CurrentUser;
        path = location.mid(userRoot.size());
    } else {
        return unusable(location, QStringLiteral("is not a registry key; nothing of it applies"));
    }
    Win32::RegistryTree tree;
    switch (Win32::readRegistryTree(root, path.toStdWString(), tree)) {
    case Win32::RegistryRead::Missing:
        return Policy();
    case Win32::RegistryRead::Failed:
        return unusable(location, QStringLiteral("cannot be opened; nothing of it applies"));
    case Win32::RegistryRead::Read:
        break;
    }
    return fromRegistry(convert(tree), location);
}
