#include "platform/ChildProcessGroup.h"

#include <QFile>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

// "$@" is the tool. Its input is saved first: a shell gives a job it starts in the background
// the null device as input. The guard waits on descriptor 3 and ends the group ("kill 0") at
// end of file; a tool ended by a signal ends the shell by the same signal.
const char* const guardScript = R"(exec 4<&0
"$@" <&4 4<&- 3<&- &
tool=$!
exec 4<&-
trap 'kill -TERM $tool 2>/dev/null' TERM
(trap - TERM; read -r _ <&3; kill -KILL 0) </dev/null >/dev/null 2>&1 &
guard=$!
exec 3<&-
while :; do
  wait $tool
  status=$?
  kill -0 $tool 2>/dev/null || break
done
kill -KILL $guard 2>/dev/null
if [ $status -gt 128 ]; then trap - TERM; kill -s $(kill -l $((status - 128))) $$; fi
exit $status
)";

} // namespace

ChildProcessGroup::ChildProcessGroup()
{
    int ends[2] = {-1, -1};
    // Neither end reaches a child through exec; prepareChild hands the read end on by itself.
    if (::pipe2(ends, O_CLOEXEC) == 0) {
        m_readEnd = ends[0];
        m_writeEnd = ends[1];
    }
}

ChildProcessGroup::~ChildProcessGroup()
{
    close();
}

ChildProcessGroup& ChildProcessGroup::shared()
{
    static auto* group = new ChildProcessGroup;
    return *group;
}

bool ChildProcessGroup::needsGuard(const QString& program)
{
    struct stat info {};
    if (::stat(QFile::encodeName(program).constData(), &info) != 0)
        return false;
    return S_ISREG(info.st_mode) && (info.st_mode & (S_ISUID | S_ISGID)) != 0;
}

QString ChildProcessGroup::guardProgram()
{
    return QStringLiteral("/bin/sh");
}

QStringList ChildProcessGroup::guardArguments(const QString& program, const QStringList& arguments)
{
    return QStringList{QStringLiteral("-c"), QString::fromLatin1(guardScript), QStringLiteral("vantrel-guard"), program}
    + arguments;
}

void ChildProcessGroup::prepareChild() const
{
    ::setpgid(0, 0);
    if (m_readEnd < 0)
        return;
    if (m_readEnd == 3)
        ::fcntl(3, F_SETFD, 0);
    else
        ::dup2(m_readEnd, 3);
}

void ChildProcessGroup::signalGroup(qint64 guardPid, int signalNumber)
{
    if (guardPid > 0)
        ::kill(static_cast<pid_t>(-guardPid), signalNumber);
}

void ChildProcessGroup::close()
{
    if (m_writeEnd >= 0)
        ::close(m_writeEnd);
    if (m_readEnd >= 0)
        ::close(m_readEnd);
    m_writeEnd = -1;
    m_readEnd = -1;
}

} // namespace vantrel
