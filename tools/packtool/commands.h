#pragma once

#include <QString>
#include <QStringList>
#include <cstdio>

// packtool's subcommands. Each takes the arguments after its own name and returns the exit
// status; the dispatcher in main.cpp maps names to them.
int RunWrite(const QStringList &arguments);
int RunShow(const QStringList &arguments);
int RunCheck(const QStringList &arguments);
int RunKeygen(const QStringList &arguments);
int RunSign(const QStringList &arguments);
int RunVerify(const QStringList &arguments);

// Helpers every subcommand shares.
void Print(std::FILE *stream, const QString &text);
// Prints the problem and the usage of every subcommand to stderr; returns the exit status
// for bad arguments.
int UsageError(const QString &problem);
