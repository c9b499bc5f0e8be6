#include "mounting/ExpectScript.h"

#include <QRegularExpression>

namespace vantrel {

namespace {

// Inside Tcl double quotes a backslash, a quote, "$" and brackets are all live: escape each.
// Everything outside printable ASCII is written as \uXXXX (surrogate pairs included, which Tcl
// joins), so the script reads the same in whatever encoding the interpreter assumes.
QString tclQuoted(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e) {
            out += QStringLiteral("\\u%1").arg(static_cast<uint>(c.unicode()), 4, 16, QLatin1Char('0'));
            continue;
        }
        if (c == QLatin1Char('\\') || c == QLatin1Char('"') || c == QLatin1Char('$') || c == QLatin1Char('[')
            || c == QLatin1Char(']'))
            out += QLatin1Char('\\');
        out += c;
    }
    out += QLatin1Char('"');
    return out;
}

// A path that Tcl reads as one plain word stays as it is; anything else is quoted.
QString tclWord(const QString& text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./+-]+$"));
    return plain.match(text).hasMatch() ? text : tclQuoted(text);
}

} // namespace

QString ExpectScript::build(const QString& tool, const QStringList& arguments, const QString& password)
{
    QString script;
    // Without a UTF-8 locale Tcl would hand the password and the arguments to the tool in
    // Latin-1; the spawned tool's channel takes the system encoding in force at the spawn.
    script += QStringLiteral("encoding system utf-8\n");
    script += QStringLiteral("set password ") + tclQuoted(password) + QLatin1Char('\n');
    script += QStringLiteral("set args [list");
    for (const QString& argument : arguments)
        script += QLatin1Char(' ') + tclQuoted(argument);
    script += QStringLiteral("]\n");
    script += QStringLiteral("spawn ") + tclWord(tool) + QStringLiteral(" {*}$args\n");
    // expect gives up on a prompt after 10 s by default, and a slow server then never gets the
    // password; the run's own time limit bounds the wait instead.
    script += QStringLiteral("set timeout -1\n");
    script += QStringLiteral("expect {\n");
    script += QStringLiteral("    \"Password for *:\" {\n");
    // "--" keeps a password that starts with "-" from being read as an option of send.
    script += QStringLiteral("        send -- \"$password\\r\"\n");
    script += QStringLiteral("        expect eof\n");
    script += QStringLiteral("    }\n");
    script += QStringLiteral("    eof\n");
    script += QStringLiteral("}\n");
    // Exit with the tool's own status; a tool killed by a signal (or a failed wait) never reads
    // as success.
    script += QStringLiteral("set result [wait]\n");
    script += QStringLiteral("if {[lindex $result 2] != 0 || [lindex $result 4] eq \"CHILDKILLED\"} {\n");
    script += QStringLiteral("    exit 1\n");
    script += QStringLiteral("}\n");
    script += QStringLiteral("exit [lindex $result 3]\n");
    return script;
}

} // namespace vantrel
