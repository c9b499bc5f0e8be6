#pragma once

#include "model/RawValue.h"

#include <QMetaType>
#include <QString>

namespace vantrel {

// Which way a file travels: `upload` from the local disk into the share, `download` the reverse.
enum class TransferDirection { upload, download };

inline QString rawValue(TransferDirection direction)
{
    return direction == TransferDirection::upload ? QStringLiteral("upload") : QStringLiteral("download");
}

template <>
inline QList<TransferDirection> allCases<TransferDirection>()
{
    return {TransferDirection::upload, TransferDirection::download};
}

} // namespace vantrel

Q_DECLARE_METATYPE(vantrel::TransferDirection)
