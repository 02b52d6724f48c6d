#pragma once

// The operating-system calls of the Windows build, in plain C++ without Qt, so
// that they compile with any Windows toolchain and can be exercised on their
// own. The Qt code (the *_win.cpp files) converts to and from QString.

#include <array>
#include <string>
#include <vector>

namespace Win32 {

// --- Authenticode -----------------------------------------------------------

// The simple display name of the certificate that signed the file with
// Authenticode, or empty when the file is unsigned, its signature does not
// verify, its chain is not trusted, or any later step fails. When status is
// given it receives what WinVerifyTrust answered (0 for a trusted signature).
std::wstring authenticodeSigner(const std::wstring &filePath, long *status = nullptr);

// --- File identity ----------------------------------------------------------

struct FileId
{
    unsigned long volumeSerial = 0;
    unsigned long long fileIndex = 0;
    unsigned long long size = 0;
    // FILETIME ticks (100 ns): the last write, and the last change of data
    // or attributes.
    unsigned long long lastWriteTime = 0;
    unsigned long long changeTime = 0;
};

// What identifies one version of a file, read from a handle opened for its
// attributes only (any sharing mode, so files in use can be looked at).
// False when the file cannot be opened.
bool fileIdentity(const std::wstring &filePath, FileId &id);

// --- Processes --------------------------------------------------------------

struct ProcessRecord
{
    unsigned long pid = 0;
    std::wstring exeName; // as Tool Help gives it, with extension
};

// The running processes in the system's order. False when no snapshot could
// be taken.
bool listProcesses(std::vector<ProcessRecord> &processes);

// The full Win32 image path of a process, or empty when it cannot be opened
// or asked.
std::wstring processImagePath(unsigned long pid);

// Whether a process with this id exists. One that exists but may not be
// opened by this user still counts.
bool processExists(long long pid);

// --- Current user -----------------------------------------------------------

// GetUserNameW, or the environment variable USERNAME when that fails. Empty
// when neither knows.
std::wstring currentUserName();

// --- File owner -------------------------------------------------------------

// Whether the owner of the file or directory is the user running this
// process. False when the owner cannot be read.
bool fileOwnedByCurrentUser(const std::wstring &path);

// --- Start at log-on --------------------------------------------------------

// The per-user Run key, under HKEY_CURRENT_USER.
extern const wchar_t runKeyPath[];

// Whether the Run key holds a value of this name.
bool runValueExists(const std::wstring &name);
// The text of that value; false when it is missing or not text.
bool readRunValue(const std::wstring &name, std::wstring &data);
// Writes the value as a string (REG_SZ), creating the key when needed.
bool writeRunValue(const std::wstring &name, const std::wstring &data);
// Removes the value; true when it is gone afterwards, missing before included.
bool deleteRunValue(const std::wstring &name);

// --- Owner of a TCP socket --------------------------------------------------

struct TcpRow
{
    bool ipv6 = false;
    // IPv4: the first four bytes, in network order. IPv6: all sixteen.
    std::array<unsigned char, 16> localAddress{};
    unsigned short localPort = 0;
    std::array<unsigned char, 16> remoteAddress{};
    unsigned short remotePort = 0;
    // MIB_TCP_STATE: 2 listening, 5 established.
    unsigned long state = 0;
    unsigned long pid = 0;
};

constexpr unsigned long tcpStateListen = 2;
constexpr unsigned long tcpStateEstablished = 5;

// Every TCP socket of one address family (listening and connected) with its
// owning process id. False when the table could not be read.
bool tcpSockets(bool ipv6, std::vector<TcpRow> &rows);

struct ProcessOwner
{
    // False when the process or its token could not be read.
    bool known = false;
    // The token user as "S-1-5-…" text.
    std::wstring sid;
    // LocalSystem, LocalService, NetworkService, or the user running this
    // process.
    bool trusted = false;
};

ProcessOwner processOwner(unsigned long pid);

// The process id of a running service, or 0 when it is not running or not
// known to the service manager.
unsigned long runningServicePid(const std::wstring &serviceName);

} // namespace Win32
