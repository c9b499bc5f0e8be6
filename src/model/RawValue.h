#pragma once

#include <QList>

#include <optional>

namespace vantrel {

// Raw values of enumerations: the text or number that stored files, settings keys and logs use for
// a case. An enumeration E takes part with an overload `rawValue(E)` and a specialisation of
// `allCases<E>()` that lists its cases in their order; the reverse lookup below serves all of them.
template <typename E>
QList<E> allCases();

// The case whose raw value equals `raw` exactly (text case-sensitively); none for anything else.
template <typename E, typename Raw>
std::optional<E> fromRawValue(const Raw& raw)
{
    for (E value : allCases<E>()) {
        if (rawValue(value) == raw)
            return value;
    }
    return std::nullopt;
}

} // namespace vantrel
