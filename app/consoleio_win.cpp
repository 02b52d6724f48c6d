#include "consoleio.h"

#include <QByteArray>

#include <windows.h>

#include <shellapi.h>

namespace {

HANDLE outputHandle = nullptr;
HANDLE errorHandle = nullptr;

// A handle that leads somewhere: a file, a pipe or a console.
bool usable(HANDLE handle)
{
    return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

bool isConsole(HANDLE handle)
{
    DWORD mode = 0;
    return usable(handle) && GetConsoleMode(handle, &mode);
}

HANDLE openConsole(const wchar_t *name, DWORD access)
{
    return CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

void write(HANDLE handle, const QString &text)
{
    if (!usable(handle))
        return;
    if (isConsole(handle)) {
        DWORD written = 0;
        WriteConsoleW(handle, reinterpret_cast<const wchar_t *>(text.utf16()), DWORD(text.size()), &written, nullptr);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    DWORD written = 0;
    WriteFile(handle, bytes.constData(), DWORD(bytes.size()), &written, nullptr);
}

} // namespace

namespace ConsoleIo {

QStringList arguments(int, char *[])
{
    // The wide command line: argv holds it in the ANSI code page, which loses
    // characters outside it.
    QStringList list;
    int count = 0;
    if (wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            list << QString::fromWCharArray(wide[i]);
        LocalFree(wide);
    }
    return list;
}

void attach()
{
    outputHandle = GetStdHandle(STD_OUTPUT_HANDLE);
    errorHandle = GetStdHandle(STD_ERROR_HANDLE);
    // Standard input counts too: a one-time password may be typed there.
    if (usable(outputHandle) && usable(errorHandle) && usable(GetStdHandle(STD_INPUT_HANDLE)))
        return;
    // Started from a console without redirection: write to that console.
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!usable(outputHandle))
        outputHandle = openConsole(L"CONOUT$", GENERIC_READ | GENERIC_WRITE);
    if (!usable(errorHandle))
        errorHandle = openConsole(L"CONOUT$", GENERIC_READ | GENERIC_WRITE);
}

void writeOutput(const QString &text)
{
    write(outputHandle ? outputHandle : GetStdHandle(STD_OUTPUT_HANDLE), text);
}

void writeError(const QString &text)
{
    write(errorHandle ? errorHandle : GetStdHandle(STD_ERROR_HANDLE), text);
}

std::optional<QString> readSecretLine(const QString &prompt, qsizetype limit)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    bool opened = false;
    if (!usable(input)) {
        input = openConsole(L"CONIN$", GENERIC_READ | GENERIC_WRITE);
        opened = usable(input);
        if (!opened)
            return std::nullopt;
    }

    QString text;
    bool ended = false;
    bool tooLong = false;
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode)) {
        writeError(prompt);
        SetConsoleMode(input, (mode & ~DWORD(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT);
        wchar_t unit = 0;
        DWORD got = 0;
        while (ReadConsoleW(input, &unit, 1, &got, nullptr) && got == 1) {
            ended = true;
            if (unit == L'\n')
                break;
            if (text.size() >= limit * 2) {
                tooLong = true;
                continue;
            }
            text.append(QChar(unit));
        }
        SetConsoleMode(input, mode);
        writeError(QStringLiteral("\n"));
    } else {
        QByteArray line;
        char byte = 0;
        DWORD got = 0;
        while (ReadFile(input, &byte, 1, &got, nullptr) && got == 1) {
            ended = true;
            if (byte == '\n')
                break;
            if (line.size() >= limit * 4) {
                tooLong = true;
                continue;
            }
            line.append(byte);
        }
        text = QString::fromUtf8(line);
        line.fill('\0');
    }
    if (opened)
        CloseHandle(input);
    if (text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    if (!ended || tooLong || text.size() > limit)
        return std::nullopt;
    return text;
}

} // namespace ConsoleIo
