#include "core/device/file_repository_error.h"

namespace qb {

FileRepositoryError::FileRepositoryError(Kind kind, QString payload)
    : m_kind(kind), m_payload(std::move(payload))
{
    m_what = message().toUtf8();
}

FileRepositoryError FileRepositoryError::accessDenied(QString path)
{
    return {Kind::AccessDenied, std::move(path)};
}

FileRepositoryError FileRepositoryError::itemNotFound(QString path)
{
    return {Kind::ItemNotFound, std::move(path)};
}

FileRepositoryError FileRepositoryError::itemAlreadyExists(QString path)
{
    return {Kind::ItemAlreadyExists, std::move(path)};
}

FileRepositoryError FileRepositoryError::transferFailed(QString reason)
{
    return {Kind::TransferFailed, std::move(reason)};
}

FileRepositoryError FileRepositoryError::unknown(QString underlying)
{
    return {Kind::Unknown, std::move(underlying)};
}

FileRepositoryError FileRepositoryError::deviceNotConnected()
{
    return {Kind::DeviceNotConnected, {}};
}

FileRepositoryError FileRepositoryError::renameNotSupported()
{
    return {Kind::RenameNotSupported, {}};
}

FileRepositoryError FileRepositoryError::moveNotSupported()
{
    return {Kind::MoveNotSupported, {}};
}

FileRepositoryError FileRepositoryError::transferCanceled()
{
    return {Kind::TransferCanceled, {}};
}

QString FileRepositoryError::message() const
{
    switch (m_kind) {
    case Kind::AccessDenied:
        return QStringLiteral("Access denied to ") + m_payload + QStringLiteral(".");
    case Kind::ItemNotFound:
        return QStringLiteral("Item not found: ") + m_payload + QStringLiteral(".");
    case Kind::ItemAlreadyExists:
        return QStringLiteral("An item already exists at ") + m_payload + QStringLiteral(".");
    case Kind::TransferFailed:
        return QStringLiteral("Transfer failed: ") + m_payload;
    case Kind::Unknown:
        return QStringLiteral("An unexpected error occurred: ") + m_payload;
    case Kind::DeviceNotConnected:
        return QStringLiteral(
            "Device is not connected. Ensure it is plugged in and File Transfer (MTP) is enabled.");
    case Kind::RenameNotSupported:
        return QStringLiteral("Rename is not supported by this device.");
    case Kind::MoveNotSupported:
        return QStringLiteral(
            "Move is not supported by this device. A copy+delete will be performed.");
    case Kind::TransferCanceled:
        return QStringLiteral("Transfer was canceled.");
    }
    return {};
}

} // namespace qb
