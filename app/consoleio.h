#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The terminal a command start talks to: its arguments, its output and a
// secret typed without echo.
namespace ConsoleIo {

// The program's arguments as the system passed them, the program first.
QStringList arguments(int argc, char *argv[]);

// A Windows GUI program has no console: output then goes to the console of
// the process that started it, unless it was redirected. Nothing elsewhere.
void attach();

void writeOutput(const QString &text);
void writeError(const QString &text);

// One line from standard input, without its line end; from a terminal after
// `prompt` (on standard error) with echo turned off. Empty on end of input,
// or when the line is longer than `limit` characters.
std::optional<QString> readSecretLine(const QString &prompt, qsizetype limit);

} // namespace ConsoleIo
