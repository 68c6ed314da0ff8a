#pragma once

#include <QByteArrayView>
#include <QIODevice>

#include <functional>

// The caller's output for a body: an open, seekable file (QFileDevice) or memory buffer
// (QBuffer). The caller owns the device; the sink never closes it. Every failure of the
// device is raised as a Failure of the stream kinds.
class ByteSink {
public:
    explicit ByteSink(QIODevice &device);

    // Told of each write once it is done, with the position it began at.
    std::function<void(qint64 position, QByteArrayView bytes)> OnWritten;
    // The most the sink may hold, or -1; a body that would make it larger fails before it does.
    qint64 MaxSize = -1;

    qint64 Position() const;
    qint64 Size() const;
    void Seek(qint64 position);
    void SetSize(qint64 size);
    void Write(QByteArrayView bytes);

private:
    void CheckRoomFor(qint64 size) const;

    QIODevice &device_;
};
