#pragma once

#include <QString>
#include <functional>

// A thread may keep a log of the transfers it runs, for customer service: the client notes
// every request's address (never its credentials or cookies) and every reply's status line.
using TransferLog = std::function<void(const QString &line)>;

// Sets the log for transfers run on the calling thread (an empty one: none). Returns the
// log it replaces.
TransferLog SetThreadTransferLog(TransferLog log);

void LogTransfer(const QString &line);
