#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace qb {

// Failures of the MTP client, each with its user-facing message (MTPClient::MTPError).
class MTPError : public std::exception
{
public:
    enum class Kind {
        DeviceNotFound,
        OperationFailed,
        DownloadFailed,
        UploadFailed,
        InitializationFailed,
        Canceled,
        // The phone is on the bus but another program holds its USB interface.
        DeviceBusy,
        // A transfer's source is a folder or another thing that is not a plain file.
        NotAFile,
        // An upload's local file shrank or was written to while it was sent; nothing was kept.
        SourceChanged,
        // The phone answered that it has no such object (reads as OperationFailed).
        NoSuchObject
    };

    static MTPError deviceNotFound(QString id);
    static MTPError operationFailed(QString description);
    static MTPError downloadFailed(QString description);
    static MTPError uploadFailed(QString description);
    static MTPError initializationFailed();
    static MTPError canceled();
    static MTPError deviceBusy(QString id);
    static MTPError notAFile(QString description);
    static MTPError sourceChanged(QString description);
    static MTPError noSuchObject(QString description);

    Kind kind() const { return m_kind; }
    // The id or description; empty for the kinds without one.
    QString payload() const { return m_payload; }
    QString message() const;
    const char* what() const noexcept override { return m_what.constData(); }

private:
    MTPError(Kind kind, QString payload);

    Kind m_kind;
    QString m_payload;
    QByteArray m_what;
};

} // namespace qb
