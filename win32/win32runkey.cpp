#include "win32api.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <vector>

namespace Win32 {

const wchar_t runKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

namespace {

struct Key
{
    HKEY handle = nullptr;
    ~Key()
    {
        if (handle)
            RegCloseKey(handle);
    }
};

LSTATUS openRunKey(REGSAM access, Key &key)
{
    return RegOpenKeyExW(HKEY_CURRENT_USER, runKeyPath, 0, access, &key.handle);
}

} // namespace

bool runValueExists(const std::wstring &name)
{
    Key key;
    return openRunKey(KEY_QUERY_VALUE, key) == ERROR_SUCCESS
           && RegQueryValueExW(key.handle, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool readRunValue(const std::wstring &name, std::wstring &data)
{
    Key key;
    if (openRunKey(KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key.handle, name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS
        || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    // Room for a terminating zero the stored text may lack.
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key.handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(buffer.data()), &bytes)
        != ERROR_SUCCESS)
        return false;
    size_t length = bytes / sizeof(wchar_t);
    while (length > 0 && buffer[length - 1] == L'\0')
        --length;
    data.assign(buffer.data(), length);
    return true;
}

bool writeRunValue(const std::wstring &name, const std::wstring &data)
{
    Key key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, runKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &key.handle, nullptr)
        != ERROR_SUCCESS)
        return false;
    const DWORD bytes = DWORD((data.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key.handle, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(data.c_str()), bytes)
           == ERROR_SUCCESS;
}

bool deleteRunValue(const std::wstring &name)
{
    Key key;
    const LSTATUS opened = openRunKey(KEY_SET_VALUE, key);
    // Without the key there is no value to remove.
    if (opened != ERROR_SUCCESS)
        return opened == ERROR_FILE_NOT_FOUND;
    const LSTATUS result = RegDeleteValueW(key.handle, name.c_str());
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

} // namespace Win32
