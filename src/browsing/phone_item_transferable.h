#pragma once

#include "core/device/device_model.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class QMimeData;

namespace qb {

// A phone file or folder on its way from the phone pane to a drop target: the item, the phone it
// lives on and the folder it was listed in.
struct PhoneItemTransferable
{
    // The drag's only format. Nothing else is offered, so a phone item dropped on another
    // program gives it nothing it could mistake for a file.
    static inline const QString mimeType =
        QStringLiteral("application/x-com.halvorin.quillbay.androidfileitem");

    FileItem fileItem;
    QString deviceId;
    QString sourceFolderPath; // empty when the pane showed no folder
    // The phone's attachment (Device::attachment): a copy taken before its phone left must not
    // reach another phone that now has the id. 0: not known.
    quint64 attachment = 0;

    // Compact JSON with the three keys, and "attachment" when it is known.
    QByteArray toJson() const;
    // Strict: "fileItem" and "deviceId" required, a missing or null "sourceFolderPath" reads as
    // empty text, a missing "attachment" as 0, other keys ignored; anything else that is wrong
    // gives nothing.
    static std::optional<PhoneItemTransferable> fromJson(const QByteArray& json);

    // One drag may carry several items: one JSON object per line (compact JSON holds no raw
    // line break). The caller owns the result.
    static QMimeData* toMimeData(const QList<PhoneItemTransferable>& items);
    // Every line that decodes, in order; the others are dropped silently.
    static QList<PhoneItemTransferable> fromMimeData(const QMimeData& data);
};

} // namespace qb
