#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace qb {

// The repository's errors, each with its user-facing message.
class FileRepositoryError : public std::exception
{
public:
    enum class Kind {
        AccessDenied,
        ItemNotFound,
        ItemAlreadyExists,
        TransferFailed,
        Unknown,
        DeviceNotConnected,
        RenameNotSupported,
        MoveNotSupported,
        TransferCanceled
    };

    static FileRepositoryError accessDenied(QString path);
    static FileRepositoryError itemNotFound(QString path);
    static FileRepositoryError itemAlreadyExists(QString path);
    static FileRepositoryError transferFailed(QString reason);
    static FileRepositoryError unknown(QString underlying);
    static FileRepositoryError deviceNotConnected();
    static FileRepositoryError renameNotSupported();
    static FileRepositoryError moveNotSupported();
    static FileRepositoryError transferCanceled();

    Kind kind() const { return m_kind; }
    // The path, reason or underlying text; empty for the kinds without one.
    QString payload() const { return m_payload; }
    QString message() const;
    const char* what() const noexcept override { return m_what.constData(); }

private:
    FileRepositoryError(Kind kind, QString payload);

    Kind m_kind;
    QString m_payload;
    QByteArray m_what;
};

} // namespace qb
