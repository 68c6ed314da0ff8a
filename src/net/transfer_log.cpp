#include "transfer_log.h"

namespace {

TransferLog &Current()
{
    thread_local TransferLog log;
    return log;
}

} // namespace

TransferLog SetThreadTransferLog(TransferLog log)
{
    std::swap(Current(), log);
    return log;
}

void LogTransfer(const QString &line)
{
    if (Current())
        Current()(line);
}
