#include "core/device/mtp_error.h"

#include <utility>

namespace qb {

MTPError::MTPError(Kind kind, QString payload)
    : m_kind(kind), m_payload(std::move(payload)), m_what(message().toUtf8())
{}

MTPError MTPError::deviceNotFound(QString id)
{
    return MTPError(Kind::DeviceNotFound, std::move(id));
}

MTPError MTPError::operationFailed(QString description)
{
    return MTPError(Kind::OperationFailed, std::move(description));
}

MTPError MTPError::downloadFailed(QString description)
{
    return MTPError(Kind::DownloadFailed, std::move(description));
}

MTPError MTPError::uploadFailed(QString description)
{
    return MTPError(Kind::UploadFailed, std::move(description));
}

MTPError MTPError::initializationFailed()
{
    return MTPError(Kind::InitializationFailed, {});
}

MTPError MTPError::canceled()
{
    return MTPError(Kind::Canceled, {});
}

MTPError MTPError::deviceBusy(QString id)
{
    return MTPError(Kind::DeviceBusy, std::move(id));
}

MTPError MTPError::notAFile(QString description)
{
    return MTPError(Kind::NotAFile, std::move(description));
}

MTPError MTPError::sourceChanged(QString description)
{
    return MTPError(Kind::SourceChanged, std::move(description));
}

MTPError MTPError::noSuchObject(QString description)
{
    return MTPError(Kind::NoSuchObject, std::move(description));
}

QString MTPError::message() const
{
    switch (m_kind) {
    case Kind::DeviceNotFound:
        return QStringLiteral("Device '") + m_payload + QStringLiteral("' not found.");
    case Kind::OperationFailed:
    case Kind::NoSuchObject:
        return QStringLiteral("MTP operation failed: ") + m_payload;
    case Kind::DownloadFailed:
        return QStringLiteral("Download failed: ") + m_payload;
    case Kind::UploadFailed:
    case Kind::SourceChanged:
        return QStringLiteral("Upload failed: ") + m_payload;
    case Kind::InitializationFailed:
        return QStringLiteral("MTP initialization failed.");
    case Kind::Canceled:
        return QStringLiteral("Operation was canceled.");
    case Kind::DeviceBusy:
        return QStringLiteral("Device '") + m_payload +
               QStringLiteral("' is in use by another program that holds its USB interface.");
    case Kind::NotAFile:
        return QStringLiteral("Not a file: ") + m_payload;
    }
    return {};
}

} // namespace qb
