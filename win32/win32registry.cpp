#include "win32api.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <vector>

namespace Win32 {

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

struct Walk
{
    int maxDepth;
    std::size_t entriesLeft;
    std::size_t maxTextLength;
};

RegistryValue readValue(HKEY key, const std::wstring &name, DWORD type, DWORD bytes, const Walk &walk)
{
    RegistryValue value;
    if (type == REG_DWORD && bytes == sizeof(DWORD)) {
        DWORD data = 0;
        DWORD size = sizeof(data);
        if (RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE *>(&data), &size)
                == ERROR_SUCCESS
            && size == sizeof(data)) {
            value.type = RegistryValue::Type::Dword;
            value.dword = data;
        }
        return value;
    }
    // A text too long to be a setting counts as a value of the wrong kind.
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || bytes / sizeof(wchar_t) > walk.maxTextLength + 1)
        return value;
    // Room for a terminating zero the stored text may lack.
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD size = bytes;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(buffer.data()), &size)
            != ERROR_SUCCESS
        || size > bytes)
        return value;
    std::size_t length = size / sizeof(wchar_t);
    while (length > 0 && buffer[length - 1] == L'\0')
        --length;
    value.type = RegistryValue::Type::Text;
    value.text.assign(buffer.data(), length);
    return value;
}

void readKey(HKEY key, int depth, Walk &walk, RegistryTree &tree)
{
    // Value names go up to 16383 characters, key names up to 255.
    std::vector<wchar_t> name(16384);
    for (DWORD index = 0; walk.entriesLeft > 0; ++index) {
        DWORD nameLength = DWORD(name.size());
        DWORD type = 0;
        DWORD bytes = 0;
        const LSTATUS status = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, nullptr, &bytes);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            continue;
        --walk.entriesLeft;
        const std::wstring valueName(name.data(), nameLength);
        tree.values.emplace_back(valueName, readValue(key, valueName, type, bytes, walk));
    }
    if (depth >= walk.maxDepth)
        return;
    for (DWORD index = 0; walk.entriesLeft > 0; ++index) {
        DWORD nameLength = DWORD(name.size());
        const LSTATUS status = RegEnumKeyExW(key, index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            continue;
        --walk.entriesLeft;
        const std::wstring keyName(name.data(), nameLength);
        Key subkey;
        if (RegOpenKeyExW(key, keyName.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &subkey.handle) != ERROR_SUCCESS)
            continue;
        RegistryTree child;
        readKey(subkey.handle, depth + 1, walk, child);
        tree.keys.emplace_back(keyName, std::move(child));
    }
}

} // namespace

RegistryRead readRegistryTree(RegistryRoot root, const std::wstring &path, RegistryTree &tree, int maxDepth,
                              std::size_t maxEntries, std::size_t maxTextLength)
{
    tree = RegistryTree();
    Key key;
    const LSTATUS opened = RegOpenKeyExW(root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                                         path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key.handle);
    if (opened == ERROR_FILE_NOT_FOUND)
        return RegistryRead::Missing;
    if (opened != ERROR_SUCCESS)
        return RegistryRead::Failed;
    Walk walk{maxDepth, maxEntries, maxTextLength};
    readKey(key.handle, 0, walk, tree);
    return RegistryRead::Read;
}

} // namespace Win32
