#include "core/error.h"

#include <cstring>

namespace tampod {

Error::Error(QString domain, int code, QString message)
    : domain_(std::move(domain)), code_(code), message_(std::move(message)),
      utf8_(message_.toStdString())
{
}

Cancelled::Cancelled()
    : Error(QStringLiteral("tampod.cancelled"), 1, QStringLiteral("The operation was cancelled."))
{
}

MalformedData::MalformedData(const QString &detail)
    : Error(QStringLiteral("tampod.data"), 1, detail)
{
}

namespace {
QString systemText(int errnoValue, const QString &operation)
{
    char buffer[256] = {};
    // GNU strerror_r returns the text, which may or may not be the buffer.
    const char *text = strerror_r(errnoValue, buffer, sizeof buffer);
    return operation + QStringLiteral(": ") + QString::fromLocal8Bit(text);
}
} // namespace

SystemError::SystemError(int errnoValue, const QString &operation)
    : Error(QStringLiteral("tampod.posix"), errnoValue, systemText(errnoValue, operation))
{
}

SystemError::SystemError(int errnoValue, const QString &, const QString &message)
    : Error(QStringLiteral("tampod.posix"), errnoValue, message)
{
}

bool isCancellation(const std::exception_ptr &error)
{
    return errorIs<Cancelled>(error);
}

QString errorText(const std::exception_ptr &error)
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const Error &e) {
        return e.message();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("An unknown error occurred.");
    }
}

} // namespace tampod
