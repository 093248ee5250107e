#pragma once

#include <QString>

#include <stdexcept>

// The one error of the program: a message for the operator (UTF-8 in what()).
// Subclasses exist only where a handler or a test must tell the origin apart;
// they add nothing but their name.
class Error : public std::runtime_error {
public:
    explicit Error(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

// A file that could not be read or written, named in the message.
class FileError : public Error {
public:
    using Error::Error;
};
