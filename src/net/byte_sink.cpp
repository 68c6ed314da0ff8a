#include "byte_sink.h"

#include "failure.h"

#include <QBuffer>
#include <QFileDevice>
#include <new>

ByteSink::ByteSink(QIODevice &device) : device_(device) {}

qint64 ByteSink::Position() const
{
    return device_.pos();
}

qint64 ByteSink::Size() const
{
    return device_.size();
}

void ByteSink::Seek(qint64 position)
{
    if (!device_.seek(position))
        throw Failure(QStringLiteral("EStreamError"), device_.errorString());
}

void ByteSink::CheckRoomFor(qint64 size) const
{
    if (MaxSize >= 0 && size > MaxSize)
        throw Failure(QStringLiteral("EStreamError"),
                      QStringLiteral("The body is larger than %1 bytes").arg(MaxSize));
}

void ByteSink::SetSize(qint64 size)
{
    // A size that stands is left alone: ext4 writes a file cut to nothing out in full when it
    // is closed, which held the window for 120 to 140 ms after a 200 MB download.
    if (Size() == size)
        return;
    CheckRoomFor(size);
    if (auto *file = qobject_cast<QFileDevice *>(&device_)) {
        if (!file->resize(size))
            throw Failure(QStringLiteral("EStreamError"), file->errorString());
    } else if (auto *buffer = qobject_cast<QBuffer *>(&device_)) {
        try {
            buffer->buffer().resize(size);
        } catch (const std::bad_alloc &) {
            throw Failure(QStringLiteral("EOutOfMemory"), QStringLiteral("Out of memory"));
        }
    } else {
        throw Failure(QStringLiteral("EStreamError"), QStringLiteral("Stream size cannot be changed"));
    }
}

void ByteSink::Write(QByteArrayView bytes)
{
    // A file keeps small writes in its own buffer and would only fail on a later flush,
    // after the transfer had been reported done; each piece goes to disk now.
    auto *file = qobject_cast<QFileDevice *>(&device_);
    const qint64 position = device_.pos();
    CheckRoomFor(position + bytes.size());
    if (device_.write(bytes.data(), bytes.size()) != bytes.size() || (file && !file->flush()))
        throw Failure(QStringLiteral("EWriteError"),
                      QStringLiteral("Stream write error: ") + device_.errorString());
    if (OnWritten)
        OnWritten(position, bytes);
}
