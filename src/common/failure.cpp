#include "failure.h"

Failure::Failure(QString kind, QString message)
    : kind_(std::move(kind)), message_(std::move(message)), utf8_(message_.toUtf8()),
      place_(reinterpret_cast<quintptr>(__builtin_return_address(0)))
{
}
