#pragma once

#include <QByteArrayView>
#include <QIODevice>

// The caller's output for a body: an open, seekable file (QFileDevice) or memory buffer
// (QBuffer). The caller owns the device; the sink never closes it. Every failure of the
// device is raised as a Failure of the stream kinds.
class ByteSink {
public:
    explicit ByteSink(QIODevice &device);

    qint64 Position() const;
    qint64 Size() const;
    void Seek(qint64 position);
    void SetSize(qint64 size);
    void Write(QByteArrayView bytes);

private:
    QIODevice &device_;
};
