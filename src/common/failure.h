#pragma once

#include <QString>
#include <exception>

// The program's one failure type: a raised error carrying the message the user is shown.
// The kind names the failure in the top-level "Application Error" box only; no caller
// tells kinds apart.
class Failure : public std::exception {
public:
    Failure(QString kind, QString message);

    const QString &Kind() const { return kind_; }
    const QString &Message() const { return message_; }
    // Where the failure was raised, for the top-level box: the return address of the code
    // that constructed it.
    quintptr Place() const { return place_; }
    const char *what() const noexcept override { return utf8_.constData(); }

private:
    QString kind_;
    QString message_;
    QByteArray utf8_;
    quintptr place_;
};
