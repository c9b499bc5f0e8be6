#pragma once

#include <QString>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <functional>
#include <utility>

namespace vantrel {

// Blocking file work (listing, stat, copies, free space) never runs on the main thread or the
// global pool: a network share may hang for minutes. Each share gets a lane, a small pool of its
// own, so a share that hangs pins only its own threads; all other file work (the cache folder,
// local files, a local disk's free space) runs on the local pool and never waits behind a share.

// The root of the mounted network file system, or of the folder declared a share, that holds path
// (as written: links are not followed, which could hang); empty when path lies on no share.
QString shareRootOf(const QString& path);
// Makes a folder count as a share's root where the mount table shows none (tests).
void declareShareRoot(const QString& folder);
// The lane of the share that holds path, else the local pool.
QThreadPool& fileIOPool(const QString& path);
QThreadPool& localIOPool();

namespace detail {
void probeFileWork(const QString& path);
}

// Runs f on the pool of the path it touches.
template <typename F>
auto runFileWork(const QString& path, F&& f)
{
    return QtConcurrent::run(&fileIOPool(path), [path, f = std::forward<F>(f)]() mutable {
        detail::probeFileWork(path);
        return f();
    });
}

// Called on the worker with the path before each piece of file work: tests block it to stand in
// for a share that hangs. An empty function removes it.
void setFileWorkProbe(std::function<void(const QString& path)> probe);
// Waits until the file work queued so far has ended (tests; never while a share is held).
void waitForFileWork();

} // namespace vantrel
