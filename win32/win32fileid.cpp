#include "win32api.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace Win32 {

namespace {

unsigned long long joined(DWORD high, DWORD low)
{
    return (static_cast<unsigned long long>(high) << 32) | low;
}

} // namespace

bool fileIdentity(const std::wstring &filePath, FileId &id)
{
    const HANDLE file
        = CreateFileW(filePath.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    const bool ok = GetFileInformationByHandle(file, &info)
                    && GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic));
    CloseHandle(file);
    if (!ok)
        return false;
    id.volumeSerial = info.dwVolumeSerialNumber;
    id.fileIndex = joined(info.nFileIndexHigh, info.nFileIndexLow);
    id.size = joined(info.nFileSizeHigh, info.nFileSizeLow);
    id.lastWriteTime = joined(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    id.changeTime = static_cast<unsigned long long>(basic.ChangeTime.QuadPart);
    return true;
}

} // namespace Win32
