#pragma once

#include <QString>

#include <chrono>
#include <memory>

namespace vantrel::test {

// Holds the file work on chosen folders (and everything below them) until the test lets it go, as
// a share that hangs would: the work's thread stays blocked. Installs itself as the process's
// file-work probe while it exists; going away lets everything go.
class FileWorkGate final {
public:
    FileWorkGate();
    ~FileWorkGate();
    FileWorkGate(const FileWorkGate&) = delete;
    FileWorkGate& operator=(const FileWorkGate&) = delete;

    // The first `letThrough` pieces of work from now on pass, as the answers of a share that
    // hangs after them.
    void hold(const QString& folder, int letThrough = 0);
    void release(const QString& folder);
    // Work on the folder takes this long, as on a share that answers slowly.
    void slow(const QString& folder, std::chrono::milliseconds delay);
    // How many pieces of work wait on the folder now, and how many ever arrived there.
    int waiting(const QString& folder) const;
    int arrived(const QString& folder) const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace vantrel::test
