#pragma once

#include "model/AppState.h"

#include <QtGlobal>

#include <qcoro/qcorotask.h>

#include <optional>
#include <stdexcept>
#include <utility>

// QCoro::waitFor never returns when the task throws, so tests wait through these instead.
namespace vantrel::test {

template <typename T>
struct Settled {
    std::optional<T> value;
    std::optional<VantrelError> error;
};
template <>
struct Settled<void> {
    bool done = false;
    std::optional<VantrelError> error;
};

template <typename T>
QCoro::Task<Settled<T>> settle(QCoro::Task<T> task)
{
    Settled<T> result;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            result.done = true;
        } else {
            result.value = co_await std::move(task);
        }
    } catch (const VantrelError& error) {
        result.error = error;
    }
    co_return result;
}

// The task's value; a VantrelError fails the test (reported as an exception with its text).
template <typename T>
T await(QCoro::Task<T>&& task)
{
    Settled<T> settled = QCoro::waitFor(settle(std::move(task)));
    if (settled.error) {
        qWarning("unexpected failure: %s", settled.error->what());
        throw std::runtime_error(settled.error->what());
    }
    if constexpr (!std::is_void_v<T>)
        return std::move(*settled.value);
}

// The task's VantrelError; success fails the test.
template <typename T>
VantrelError failureOf(QCoro::Task<T>&& task)
{
    Settled<T> settled = QCoro::waitFor(settle(std::move(task)));
    if (!settled.error) {
        qWarning("the operation succeeded where a failure was expected");
        throw std::runtime_error("unexpected success");
    }
    return *settled.error;
}

} // namespace vantrel::test
