// Console checks of the Win32 layer, built with mingw-w64 and run under Wine
// by run-wine.sh. Usage:
//   tst_win32api check FIXTURE_DIR EXPECTED_USER   every check; leaves the Run value written
//   tst_win32api remove-run-value                  removes it again
// Prints one line per failed check and exits 1 if any failed.

#include "win32api.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const wchar_t valueName[] = L"KestrumSSLVPN";
const wchar_t runData[] = L"\"C:\\Program Files\\Kestrum SSLVPN\\KestrumSSLVPN.exe\"";

int failures = 0;
int checks = 0;

void check(bool ok, const std::wstring &what)
{
    ++checks;
    if (!ok) {
        ++failures;
        std::fwprintf(stderr, L"FAIL: %ls\n", what.c_str());
    }
}

void checkEqual(const std::wstring &actual, const std::wstring &expected, const std::wstring &what)
{
    check(actual == expected, what + L": got \"" + actual + L"\", expected \"" + expected + L"\"");
}

std::wstring hexStatus(long status)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lx", static_cast<unsigned long>(status));
    return text;
}

// A copy of `from` with one byte of the signed image flipped.
bool writeTampered(const std::wstring &from, const std::wstring &to)
{
    std::ifstream in(from.c_str(), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 0x400)
        return false;
    // Inside the first section, well past the headers the signature skips.
    bytes[0x400] = char(bytes[0x400] ^ 0x01);
    std::ofstream out(to.c_str(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(out);
}

void checkSigner(const std::wstring &dir)
{
    struct Case
    {
        const wchar_t *file;
        const wchar_t *signer;
        long status;
    };
    const Case cases[] = {
        {L"signed64.exe", L"Orvalin Test Publisher", 0},
        // No common name: the simple display name falls back to the unit.
        {L"nocn.exe", L"Orvalin Signing Unit", 0},
        {L"unsigned64.exe", L"", long(TRUST_E_NOSIGNATURE)},
        {L"tampered64.exe", L"", long(TRUST_E_BAD_DIGEST)},
    };
    check(writeTampered(dir + L"\\signed64.exe", dir + L"\\tampered64.exe"), L"tampered copy written");
    for (const Case &c : cases) {
        long status = -1;
        const std::wstring signer = Win32::authenticodeSigner(dir + L"\\" + c.file, &status);
        checkEqual(signer, c.signer, std::wstring(L"signer of ") + c.file);
        check(status == c.status, std::wstring(L"trust status of ") + c.file + L": " + hexStatus(status)
                                      + L", expected " + hexStatus(c.status));
    }
    long status = 0;
    checkEqual(Win32::authenticodeSigner(dir + L"\\missing.exe", &status), L"", L"signer of a missing file");
    check(status != 0, L"a missing file does not verify");
}

// What the signer cache keys a file by: stable for one file, different for
// another, moved by a write.
void checkFileIdentity(const std::wstring &dir)
{
    const std::wstring original = dir + L"\\signed64.exe";
    const std::wstring copy = dir + L"\\identity-copy.exe";
    Win32::FileId first, again, other;
    check(Win32::fileIdentity(original, first) && Win32::fileIdentity(original, again), L"identity of a file read");
    check(first.fileIndex == again.fileIndex && first.volumeSerial == again.volumeSerial && first.size == again.size
              && first.lastWriteTime == again.lastWriteTime && first.changeTime == again.changeTime,
          L"one file keeps its identity");
    check(CopyFileW(original.c_str(), copy.c_str(), FALSE) != 0, L"copy written");
    check(Win32::fileIdentity(copy, other), L"identity of the copy read");
    check(other.fileIndex != first.fileIndex && other.size == first.size, L"a copy is another file of the same size");

    const HANDLE handle = CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME later;
    later.dwLowDateTime = DWORD(other.lastWriteTime + 10000000ULL * 3600);
    later.dwHighDateTime = DWORD((other.lastWriteTime + 10000000ULL * 3600) >> 32);
    DWORD written = 0;
    const bool rewritten = handle != INVALID_HANDLE_VALUE && WriteFile(handle, "MZ", 2, &written, nullptr)
                           && SetFileTime(handle, nullptr, nullptr, &later);
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    check(rewritten, L"copy rewritten");
    Win32::FileId changed;
    check(Win32::fileIdentity(copy, changed) && changed.fileIndex == other.fileIndex
              && changed.lastWriteTime != other.lastWriteTime,
          L"a rewritten file keeps its index and gets a new write time");
    Win32::FileId missing;
    check(!Win32::fileIdentity(dir + L"\\missing.exe", missing), L"a missing file has no identity");
}

void checkProcesses()
{
    const DWORD ownPid = GetCurrentProcessId();
    std::vector<Win32::ProcessRecord> processes;
    check(Win32::listProcesses(processes), L"process snapshot taken");
    bool found = false;
    for (const Win32::ProcessRecord &process : processes) {
        if (process.pid == ownPid) {
            found = true;
            checkEqual(process.exeName, L"tst_win32api.exe", L"own process name in the snapshot");
        }
    }
    check(found, L"own process in the snapshot");

    const std::wstring image = Win32::processImagePath(ownPid);
    wchar_t modulePath[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    check(length > 0 && CompareStringOrdinal(image.c_str(), -1, modulePath, -1, TRUE) == CSTR_EQUAL,
          L"own image path \"" + image + L"\" is \"" + std::wstring(modulePath, length) + L"\"");

    check(Win32::processExists(ownPid), L"own process exists");
    check(!Win32::processExists(0) && !Win32::processExists(-5) && !Win32::processExists(0x100000000LL),
          L"ids outside the DWORD range do not exist");

    // A child that has ended no longer exists.
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    std::wstring command = L"cmd.exe /c exit 0";
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        WaitForSingleObject(child.hProcess, 30000);
        const DWORD childPid = child.dwProcessId;
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
        check(!Win32::processExists(childPid), L"an ended child does not exist");
    } else {
        check(false, L"cmd.exe started");
    }
}

void checkUser(const std::wstring &expected)
{
    checkEqual(Win32::currentUserName(), expected, L"current user name");
}

// A file this process made belongs to its user; a missing one to nobody.
void checkFileOwner(const std::wstring &dir)
{
    const std::wstring path = dir + L"\\owned.txt";
    const HANDLE file
        = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    check(file != INVALID_HANDLE_VALUE, L"file created to ask its owner");
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    check(Win32::fileOwnedByCurrentUser(path), L"a file made here belongs to this user");
    DeleteFileW(path.c_str());
    check(!Win32::fileOwnedByCurrentUser(path), L"a missing file belongs to nobody");
}

void checkRunKey()
{
    std::wstring data;
    check(Win32::deleteRunValue(valueName), L"removing a missing value succeeds");
    check(!Win32::runValueExists(valueName), L"no Run value at first");
    check(!Win32::readRunValue(valueName, data), L"a missing value reads as missing");
    check(Win32::writeRunValue(valueName, runData), L"Run value written");
    check(Win32::runValueExists(valueName), L"Run value exists after writing");
    check(Win32::readRunValue(valueName, data), L"Run value reads back");
    checkEqual(data, runData, L"Run value data");
    check(Win32::deleteRunValue(valueName), L"Run value removed");
    check(!Win32::runValueExists(valueName), L"Run value gone after removal");
    // Left in place for `reg query` to see.
    check(Win32::writeRunValue(valueName, runData), L"Run value written again");
}

// A connection of ours on 127.0.0.1 shows in the table: the listener and the
// accepted end (with our pid, where the system reports it), and our own
// token's user is trusted.
void checkTcpOwner()
{
    WSADATA wsa;
    check(WSAStartup(MAKEWORD(2, 2), &wsa) == 0, L"winsock started");
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof(address);
    const bool listening
        = listener != INVALID_SOCKET && bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0
          && listen(listener, 1) == 0 && getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0;
    check(listening, L"test listener on 127.0.0.1");
    const unsigned short port = ntohs(address.sin_port);

    SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in clientAddress = {};
    int clientLength = sizeof(clientAddress);
    const bool connected = client != INVALID_SOCKET
                           && connect(client, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0
                           && getsockname(client, reinterpret_cast<sockaddr *>(&clientAddress), &clientLength) == 0;
    check(connected, L"test client connected");
    const unsigned short clientPort = ntohs(clientAddress.sin_port);
    SOCKET accepted = accept(listener, nullptr, nullptr);
    check(accepted != INVALID_SOCKET, L"connection accepted");

    std::vector<Win32::TcpRow> rows;
    check(Win32::tcpSockets(false, rows), L"IPv4 socket table read");
    const Win32::TcpRow *listenerRow = nullptr;
    const Win32::TcpRow *acceptedRow = nullptr;
    for (const Win32::TcpRow &row : rows) {
        if (row.localPort == port && row.state == Win32::tcpStateListen)
            listenerRow = &row;
        if (row.localPort == port && row.remotePort == clientPort && row.state == Win32::tcpStateEstablished)
            acceptedRow = &row;
    }
    check(listenerRow != nullptr, L"test listener on port " + std::to_wstring(port) + L" in the table");
    check(acceptedRow != nullptr, L"accepted end from port " + std::to_wstring(clientPort) + L" in the table");
    if (acceptedRow) {
        const auto isLoopback = [](const std::array<unsigned char, 16> &bytes) {
            return bytes[0] == 127 && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 1;
        };
        check(!acceptedRow->ipv6 && isLoopback(acceptedRow->localAddress) && isLoopback(acceptedRow->remoteAddress),
              L"accepted end's addresses are 127.0.0.1");
        // Wine leaves the owning process id at 0; Windows fills it in.
        if (acceptedRow->pid != 0)
            check(acceptedRow->pid == GetCurrentProcessId(),
                  L"accepted end's owner is this process, got pid " + std::to_wstring(acceptedRow->pid));
        else
            std::wprintf(L"note: the socket table gives no owning process here\n");
    }
    closesocket(accepted);
    closesocket(client);
    closesocket(listener);
    std::vector<Win32::TcpRow> v6;
    check(Win32::tcpSockets(true, v6), L"IPv6 socket table read");

    const Win32::ProcessOwner own = Win32::processOwner(GetCurrentProcessId());
    check(own.known && own.trusted && own.sid.rfind(L"S-1-5-", 0) == 0,
          L"own process owner \"" + own.sid + L"\" known and trusted");
    const Win32::ProcessOwner nobody = Win32::processOwner(0xFFFFFFF0UL);
    check(!nobody.known && !nobody.trusted, L"a missing process has no owner and is not trusted");
    check(Win32::runningServicePid(L"tunwarden") == 0, L"no agent service here");
    WSACleanup();
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"remove-run-value") {
        check(Win32::deleteRunValue(valueName), L"Run value removed");
        check(!Win32::runValueExists(valueName), L"Run value gone");
    } else if (mode == L"check" && argc == 4) {
        checkSigner(argv[2]);
        checkFileIdentity(argv[2]);
        checkProcesses();
        checkUser(argv[3]);
        checkFileOwner(argv[2]);
        checkRunKey();
        checkTcpOwner();
    } else {
        std::fwprintf(stderr, L"usage: tst_win32api check FIXTURE_DIR EXPECTED_USER | remove-run-value\n");
        return 2;
    }
    std::wprintf(L"%d checks, %d failed\n", checks, failures);
    return failures ? 1 : 0;
}
