#include "consoleio.h"

#include <QByteArray>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <termios.h>
#include <unistd.h>

namespace {

termios savedTerminal;
volatile sig_atomic_t echoOff = 0;

// Interrupted at the prompt: the terminal gets its echo back first.
void restoreAndDie(int signalNumber)
{
    if (echoOff)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

void write(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

namespace ConsoleIo {

QStringList arguments(int argc, char *argv[])
{
    QStringList list;
    for (int i = 0; i < argc; ++i)
        list << QString::fromLocal8Bit(argv[i]);
    return list;
}

void attach() {}

void writeOutput(const QString &text)
{
    write(stdout, text);
}

void writeError(const QString &text)
{
    write(stderr, text);
}

std::optional<QString> readSecretLine(const QString &prompt, qsizetype limit)
{
    const bool terminal = ::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &savedTerminal) == 0;
    struct sigaction previousInt = {}, previousTerm = {}, restoring = {};
    if (terminal) {
        writeError(prompt);
        restoring.sa_handler = restoreAndDie;
        ::sigaction(SIGINT, &restoring, &previousInt);
        ::sigaction(SIGTERM, &restoring, &previousTerm);
        termios quiet = savedTerminal;
        quiet.c_lflag &= tcflag_t(~ECHO);
        quiet.c_lflag |= ECHONL;
        echoOff = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }

    // Byte by byte, so nothing after the line is taken from the input.
    // A character is at most 4 bytes in UTF-8.
    const qsizetype byteLimit = limit * 4;
    QByteArray line;
    bool ended = false;
    bool tooLong = false;
    char byte = 0;
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        ended = true;
        if (byte == '\n')
            break;
        if (line.size() >= byteLimit) {
            tooLong = true;
            continue;
        }
        line.append(byte);
    }

    if (terminal) {
        if (echoOff)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        echoOff = 0;
        ::sigaction(SIGINT, &previousInt, nullptr);
        ::sigaction(SIGTERM, &previousTerm, nullptr);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    const QString text = QString::fromLocal8Bit(line);
    line.fill('\0');
    if (!ended || tooLong || text.size() > limit)
        return std::nullopt;
    return text;
}

} // namespace ConsoleIo
