#include "platform/CrashSignals.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cxxabi.h>
#include <exception>
#include <execinfo.h>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <typeinfo>
#include <unistd.h>

namespace vantrel {

namespace {

constexpr int maxFrames = 64;
constexpr int uncaughtExceptionStatus = 6;

const int handled[] = {SIGABRT, SIGILL, SIGSEGV, SIGBUS, SIGTRAP};

// Written by install() before any handler is installed, read-only afterwards.
bool installed = false;
struct sigaction previous[NSIG];
bool hasPrevious[NSIG];
char reportPath[4096];
char reportId[64];
char fixedFields[16384]; // JSON members without braces, e.g. "appVersion":"1.0.0",...
size_t fixedFieldsLength = 0;
char home[4096];
size_t homeLength = 0;
int symbolFd = -1;
alignas(16) char alternateStack[64 * 1024];

// Scratch space of the one crash that gets to write (guarded by `handling`).
std::atomic<bool> handling{false};
std::atomic<pid_t> handlingThread{0};
char symbolText[128 * 1024];
char reportText[256 * 1024];

pid_t currentThreadId()
{
    return static_cast<pid_t>(syscall(SYS_gettid));
}

bool copyInto(char* target, size_t capacity, const QByteArray& bytes)
{
    if (static_cast<size_t>(bytes.size()) >= capacity) {
        target[0] = '\0';
        return false;
    }
    memcpy(target, bytes.constData(), static_cast<size_t>(bytes.size()));
    target[bytes.size()] = '\0';
    return true;
}

// Appends to a fixed buffer; never allocates.
struct Writer {
    char* data;
    size_t capacity;
    size_t length = 0;

    bool fits(size_t n) const { return length + n <= capacity; }
    void put(const char* s, size_t n)
    {
        if (!fits(n))
            n = capacity - length;
        memcpy(data + length, s, n);
        length += n;
    }
    void put(const char* s) { put(s, strlen(s)); }
    void putChar(char c) { put(&c, 1); }
    void putNumber(long value, int minDigits = 1)
    {
        char digits[24];
        int count = 0;
        const bool negative = value < 0;
        unsigned long v = negative ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
        do {
            digits[count++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0 && count < 22);
        while (count < minDigits && count < 22)
            digits[count++] = '0';
        if (negative)
            putChar('-');
        while (count > 0)
            putChar(digits[--count]);
    }
};

// One byte of a JSON string body; `out` null only measures.
size_t escapeByte(unsigned char c, Writer* out)
{
    static const char hex[] = "0123456789abcdef";
    char buffer[6];
    size_t n = 0;
    if (c == '"' || c == '\\') {
        buffer[n++] = '\\';
        buffer[n++] = static_cast<char>(c);
    } else if (c < 0x20) {
        buffer[n++] = '\\';
        buffer[n++] = 'u';
        buffer[n++] = '0';
        buffer[n++] = '0';
        buffer[n++] = hex[c >> 4];
        buffer[n++] = hex[c & 0xf];
    } else {
        buffer[n++] = static_cast<char>(c);
    }
    if (out)
        out->put(buffer, n);
    return n;
}

// A JSON string of `s`, with every occurrence of the home path shown as "~" when asked.
size_t jsonString(const char* s, size_t n, bool replaceHome, Writer* out)
{
    size_t total = 2;
    if (out)
        out->putChar('"');
    for (size_t i = 0; i < n;) {
        if (replaceHome && homeLength > 1 && n - i >= homeLength && memcmp(s + i, home, homeLength) == 0) {
            total += escapeByte('~', out);
            i += homeLength;
        } else {
            total += escapeByte(static_cast<unsigned char>(s[i]), out);
            ++i;
        }
    }
    if (out)
        out->putChar('"');
    return total;
}

void putMember(Writer& out, const char* key, const char* value)
{
    out.putChar(',');
    out.putChar('"');
    out.put(key);
    out.put("\":");
    jsonString(value, strlen(value), false, &out);
}

// "2024-05-01T09:30:12Z" of the current time, by hand: gmtime_r is not async-signal-safe.
void putTimestamp(Writer& out)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const long seconds = static_cast<long>(now.tv_sec);
    long days = seconds / 86400;
    long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    const long z = days + 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const long doe = z - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    const long day = doy - (153 * mp + 2) / 5 + 1;
    const long month = mp < 10 ? mp + 3 : mp - 9;
    const long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    out.putChar('"');
    out.putNumber(year, 4);
    out.putChar('-');
    out.putNumber(month, 2);
    out.putChar('-');
    out.putNumber(day, 2);
    out.putChar('T');
    out.putNumber(rest / 3600, 2);
    out.putChar(':');
    out.putNumber(rest / 60 % 60, 2);
    out.putChar(':');
    out.putNumber(rest % 60, 2);
    out.put("Z\"");
}

void signalNameInto(int signal, Writer& out)
{
    switch (signal) {
    case SIGILL: out.put("SIGILL"); return;
    case SIGTRAP: out.put("SIGTRAP"); return;
    case SIGABRT: out.put("SIGABRT"); return;
    case SIGBUS: out.put("SIGBUS"); return;
    case SIGSEGV: out.put("SIGSEGV"); return;
    case SIGPIPE: out.put("SIGPIPE"); return;
    default:
        out.put("SIGUNKNOWN(");
        out.putNumber(signal);
        out.putChar(')');
        return;
    }
}

// Symbol lines of the current stack, innermost first, separated by '\n', into symbolText.
// backtrace_symbols() allocates; backtrace_symbols_fd() into a memory file does not.
size_t captureStack()
{
    void* frames[maxFrames];
    const int count = backtrace(frames, maxFrames);
    if (count <= 0 || symbolFd < 0)
        return 0;
    if (ftruncate(symbolFd, 0) != 0 || lseek(symbolFd, 0, SEEK_SET) != 0)
        return 0;
    backtrace_symbols_fd(frames, count, symbolFd);
    if (lseek(symbolFd, 0, SEEK_SET) != 0)
        return 0;
    size_t length = 0;
    while (length < sizeof symbolText) {
        const ssize_t n = read(symbolFd, symbolText + length, sizeof symbolText - length);
        if (n <= 0)
            break;
        length += static_cast<size_t>(n);
    }
    return length;
}

// Builds and writes the report; silently nothing when the file cannot be written.
void writeReport(const char* type, const char* name, const char* reason, size_t stackLength, bool replaceHome)
{
    if (reportPath[0] == '\0')
        return;
    Writer out{reportText, sizeof reportText};
    out.put("{\"id\":");
    jsonString(reportId, strlen(reportId), false, &out);
    out.put(",\"timestamp\":");
    putTimestamp(out);
    if (fixedFieldsLength > 0) {
        out.putChar(',');
        out.put(fixedFields, fixedFieldsLength);
    }
    putMember(out, "exceptionType", type);
    if (name)
        putMember(out, "exceptionName", name);
    if (reason)
        putMember(out, "reason", reason);
    out.put(",\"stackTrace\":[");
    constexpr size_t closing = 4; // "]}" and room to spare
    bool first = true;
    for (size_t start = 0; start < stackLength;) {
        size_t end = start;
        while (end < stackLength && symbolText[end] != '\n')
            ++end;
        const size_t need = jsonString(symbolText + start, end - start, replaceHome, nullptr) + 1;
        if (end > start) {
            if (!out.fits(need + closing))
                break;
            if (!first)
                out.putChar(',');
            jsonString(symbolText + start, end - start, replaceHome, &out);
            first = false;
        }
        start = end + 1;
    }
    out.put("]}");

    const int fd = open(reportPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    for (size_t written = 0; written < out.length;) {
        const ssize_t n = write(fd, reportText + written, out.length - written);
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
    }
    close(fd);
}

// True when this invocation is the first crash; a concurrent crash on another thread waits here
// for the first one to end the process (returning would re-fault, or let abort() kill the process
// while the report is half written).
bool claimCrash()
{
    const pid_t self = currentThreadId();
    if (!handling.exchange(true)) {
        handlingThread.store(self);
        return true;
    }
    if (handlingThread.load() != self) {
        for (;;)
            pause();
    }
    return false;
}

void callPrevious(int signal, siginfo_t* info, void* context)
{
    if (signal <= 0 || signal >= NSIG || !hasPrevious[signal])
        return;
    const struct sigaction& old = previous[signal];
    if (old.sa_flags & SA_SIGINFO)
        old.sa_sigaction(signal, info, context);
    else
        old.sa_handler(signal);
}

void onCrashSignal(int signal, siginfo_t* info, void* context)
{
    if (!claimCrash()) {
        // A fault inside the crash handling itself: returning alone would re-run the faulting
        // instruction into this handler forever, so let the retry end the process instead.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        sigaction(signal, &fallback, nullptr);
        return;
    }
    char name[40];
    Writer nameOut{name, sizeof name - 1};
    signalNameInto(signal, nameOut);
    name[nameOut.length] = '\0';
    char reason[80];
    Writer reasonOut{reason, sizeof reason - 1};
    reasonOut.put("Fatal signal ");
    reasonOut.put(name);
    reasonOut.put(" received");
    reason[reasonOut.length] = '\0';

    const size_t stackLength = captureStack();
    writeReport("Signal", name, reason, stackLength, true);
    callPrevious(signal, info, context);
    _exit(signal);
}

std::string demangled(const char* mangled)
{
    int status = 0;
    char* text = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string result = status == 0 && text ? text : mangled;
    std::free(text);
    return result;
}

[[noreturn]] void onTerminate()
{
    if (!claimCrash())
        std::abort();
    std::string name = "std::terminate";
    std::string reason;
    bool hasReason = false;
    if (const std::type_info* type = abi::__cxa_current_exception_type()) {
        name = demangled(type->name());
        try {
            std::rethrow_exception(std::current_exception());
        } catch (const std::exception& e) {
            name = demangled(typeid(e).name());
            const char* what = e.what();
            if (what && *what) {
                reason = what;
                hasReason = true;
            }
        } catch (...) {
        }
    }
    const size_t stackLength = captureStack();
    writeReport("NSException", name.c_str(), hasReason ? reason.c_str() : nullptr, stackLength, false);
    _exit(uncaughtExceptionStatus);
}

bool isHandlerFunction(const struct sigaction& action)
{
    return action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN;
}

} // namespace

void CrashSignals::install(const Preparation& preparation)
{
    if (installed)
        return;
    installed = true;

    const QString path = preparation.reportDirectory + u'/' + preparation.reportId + u'.' + preparation.reportExtension;
    copyInto(reportPath, sizeof reportPath, QFile::encodeName(path));
    copyInto(reportId, sizeof reportId, preparation.reportId.toUtf8());
    if (copyInto(home, sizeof home, QFile::encodeName(preparation.homePath)))
        homeLength = strlen(home);
    const QJsonObject fixed{
        {QStringLiteral("appVersion"), preparation.appVersion},
        {QStringLiteral("buildNumber"), preparation.buildNumber},
        {QStringLiteral("osVersion"), preparation.osVersion},
        {QStringLiteral("deviceModel"), preparation.deviceModel},
    };
    QByteArray members = QJsonDocument(fixed).toJson(QJsonDocument::Compact);
    members = members.mid(1, members.size() - 2);
    if (copyInto(fixedFields, sizeof fixedFields, members))
        fixedFieldsLength = strlen(fixedFields);

    symbolFd = memfd_create("vantrel-crash-stack", MFD_CLOEXEC);
    // The first backtrace() loads the unwinder; that must not happen inside a handler.
    void* warmUp[2];
    backtrace(warmUp, 2);

    // A stack overflow leaves no stack for the handler: give this thread a spare one unless
    // someone already did.
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE)) {
        stack_t spare{};
        spare.ss_sp = alternateStack;
        spare.ss_size = sizeof alternateStack;
        sigaltstack(&spare, nullptr);
    }

    std::set_terminate(onTerminate);

    struct sigaction action {};
    action.sa_sigaction = onCrashSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : handled)
        sigaddset(&action.sa_mask, signal);
    for (int signal : handled) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && isHandlerFunction(old)) {
            previous[signal] = old;
            hasPrevious[signal] = true;
        } else {
            hasPrevious[signal] = false;
        }
        sigaction(signal, &action, nullptr);
    }

    // A child process that exits early must not take the application down with it.
    struct sigaction pipeAction {};
    if (sigaction(SIGPIPE, nullptr, &pipeAction) == 0 && pipeAction.sa_handler == SIG_DFL) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, nullptr);
    }
}

bool CrashSignals::isInstalled()
{
    return installed;
}

QList<int> CrashSignals::handledSignals()
{
    return QList<int>(std::begin(handled), std::end(handled));
}

QString CrashSignals::signalName(int signal)
{
    char buffer[40];
    Writer out{buffer, sizeof buffer};
    signalNameInto(signal, out);
    return QString::fromLatin1(buffer, static_cast<qsizetype>(out.length));
}

QString CrashSignals::machineModel(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.read(4096);
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return QString::fromUtf8(bytes).trimmed();
}

} // namespace vantrel
