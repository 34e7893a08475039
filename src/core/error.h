#pragma once

#include <QString>

#include <exception>
#include <string>

namespace tampod {

// Base of every typed error: a domain, a code and the complete sentence the user sees.
class Error : public std::exception {
public:
    Error(QString domain, int code, QString message);

    const QString &domain() const noexcept { return domain_; }
    int code() const noexcept { return code_; }
    const QString &message() const noexcept { return message_; }
    const char *what() const noexcept override { return utf8_.c_str(); }

private:
    QString domain_;
    int code_;
    QString message_;
    std::string utf8_;
};

// The one cancellation error. A cancelled job reports nothing, so this never reaches a user.
class Cancelled : public Error {
public:
    Cancelled();
};

// Bytes from outside ended before a structure did, or a field was out of range.
class MalformedData : public Error {
public:
    explicit MalformedData(const QString &detail);
};

// An operating-system call failed; code is errno.
class SystemError : public Error {
public:
    SystemError(int errnoValue, const QString &operation);
    int errnoValue() const noexcept { return code(); }

protected:
    SystemError(int errnoValue, const QString &operation, const QString &message);
};

// Classifying errors that arrive as exception pointers.
bool isCancellation(const std::exception_ptr &error);

template <typename E>
bool errorIs(const std::exception_ptr &error)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const E &) {
        return true;
    } catch (...) {
        return false;
    }
}

// The text a user sees for any error: a typed error's message, otherwise what() or a fallback.
QString errorText(const std::exception_ptr &error);

} // namespace tampod
