#pragma once

#include <QString>

#include <atomic>
#include <thread>

namespace vantrel::test {

// A TCP relay on 127.0.0.1 to a local port that carries at most bytesPerSecond in each
// direction: a link slower than the loopback, for a server that crawls. Its connections end
// with the object.
class SlowLink final {
public:
    SlowLink(quint16 targetPort, qint64 bytesPerSecond);
    ~SlowLink();
    SlowLink(const SlowLink&) = delete;
    SlowLink& operator=(const SlowLink&) = delete;

    // Listens on a free port; false with errorString when it cannot.
    bool start();
    quint16 port() const { return m_port; }
    QString errorString;

private:
    void run();

    quint16 m_target;
    qint64 m_rate;
    quint16 m_port = 0;
    int m_listener = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace vantrel::test
