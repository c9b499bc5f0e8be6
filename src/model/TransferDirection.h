#pragma once

#include <QMetaType>
#include <QString>

#include <optional>

namespace vantrel {

// Which way a file travels: `upload` from the local disk into the share, `download` the reverse.
enum class TransferDirection { upload, download };

inline QString transferDirectionRawValue(TransferDirection direction)
{
    return direction == TransferDirection::upload ? QStringLiteral("upload") : QStringLiteral("download");
}

inline std::optional<TransferDirection> transferDirectionFromRaw(const QString& raw)
{
    if (raw == QLatin1String("upload"))
        return TransferDirection::upload;
    if (raw == QLatin1String("download"))
        return TransferDirection::download;
    return std::nullopt;
}

} // namespace vantrel

Q_DECLARE_METATYPE(vantrel::TransferDirection)
