#include "platform/qt/qt_translate.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTranslator>

#include "platform/qt/qt_text.h"
#include "platform/translate.h"

namespace tempikon::qt {

namespace {

constexpr const char* kContext = "Tempikon";

// The texts the logic builds from parts, as patterns: %1 and %2 stand for
// the parts. The logic's own texts stay English (standard output is for
// scripts); only what is shown is translated.
const char* const kPatterns[] = {
    // Before the setting's own pattern, which would swallow the suffix.
    QT_TRANSLATE_NOOP("Tempikon", "%1, authenticated (NTS)"),
    QT_TRANSLATE_NOOP("Tempikon", "%1 slewed %2 ms"),
    QT_TRANSLATE_NOOP("Tempikon", "%1 slewed %2 µs"),
    QT_TRANSLATE_NOOP("Tempikon", "Time set to %1 d=%2s"),
    QT_TRANSLATE_NOOP("Tempikon", "Couldn't set system clock: %1"),
    QT_TRANSLATE_NOOP("Tempikon", "%1 (Backup)"),
    // Before "Last set: %1", which would swallow the server.
    QT_TRANSLATE_NOOP("Tempikon", "Last set: %1 from %2"),
    QT_TRANSLATE_NOOP("Tempikon", "Last set: %1"),
    QT_TRANSLATE_NOOP("Tempikon", "Next setting: %1"),
    // Who else sets the clock, and a switch of the system's automatic time
    // that failed.
    QT_TRANSLATE_NOOP("Tempikon", "%1 also sets this clock"),
    QT_TRANSLATE_NOOP("Tempikon", "The system's automatic time could not be turned off: %1"),
    QT_TRANSLATE_NOOP("Tempikon", "The system's automatic time could not be switched: %1"),
    QT_TRANSLATE_NOOP("Tempikon",
                      "WARNING: The selected server '%1' didn't answer within the selected "
                      "timeout. Do you want to use this server anyway?"),
    QT_TRANSLATE_NOOP("Tempikon", "The settings could not be saved: %1"),
    QT_TRANSLATE_NOOP("Tempikon", "The autostart entry could not be changed: %1"),
    QT_TRANSLATE_NOOP("Tempikon", "Nothing on this system could open\n%1"),
    QT_TRANSLATE_NOOP("Tempikon", "About %1"),
    QT_TRANSLATE_NOOP("Tempikon", "Cannot read the settings file %1: %2"),
    // The history of settings.
    QT_TRANSLATE_NOOP("Tempikon", "This clock gains about %1 s a day (%2 ppm)"),
    QT_TRANSLATE_NOOP("Tempikon", "This clock loses about %1 s a day (%2 ppm)"),
    QT_TRANSLATE_NOOP("Tempikon", "The history cannot be read: %1"),
    QT_TRANSLATE_NOOP("Tempikon", "The history could not be written: %1"),
    QT_TRANSLATE_NOOP("Tempikon", "%1: failed, %2"),
    QT_TRANSLATE_NOOP("Tempikon", "%1: slewed, round trip %2"),
    QT_TRANSLATE_NOOP("Tempikon", "%1: stepped, round trip %2"),
    QT_TRANSLATE_NOOP("Tempikon", "%1: not corrected, round trip %2"),
    // Why a server gave no time.
    QT_TRANSLATE_NOOP("Tempikon", "no answer within %1 s"),
    QT_TRANSLATE_NOOP("Tempikon", "the reply held no time: %1"),
    QT_TRANSLATE_NOOP("Tempikon", "the reply ended early: %1"),
    QT_TRANSLATE_NOOP("Tempikon", "the time was not a valid time of day: %1"),
    QT_TRANSLATE_NOOP("Tempikon", "connection failed: %1"),
    QT_TRANSLATE_NOOP("Tempikon", "authentication failed: %1"),
    // The entry a check asks now.
    QT_TRANSLATE_NOOP("Tempikon", "Checking %1..."),
    // Why an NTS server gave no time.
    QT_TRANSLATE_NOOP("Tempikon", "the server's certificate is not trusted: %1, issued by %2"),
    QT_TRANSLATE_NOOP("Tempikon", "the server's certificate is for %1, not %2"),
    QT_TRANSLATE_NOOP("Tempikon", "the server's certificate is out of its dates: %1"),
    QT_TRANSLATE_NOOP("Tempikon", "the server's certificate cannot be checked: %1"),
    QT_TRANSLATE_NOOP("Tempikon", "no secure connection to the key server within %1 s"),
    QT_TRANSLATE_NOOP("Tempikon", "no keys from the key server within %1 s"),
    QT_TRANSLATE_NOOP("Tempikon", "the server refused: %1"),
    QT_TRANSLATE_NOOP("Tempikon", "the server does not speak %1"),
    QT_TRANSLATE_NOOP("Tempikon", "the key server warns: %1"),
    QT_TRANSLATE_NOOP("Tempikon", "the answer is malformed: %1"),
    QT_TRANSLATE_NOOP("Tempikon", "the file of trusted certificates %1 holds no certificate"),
    QT_TRANSLATE_NOOP("Tempikon", "cannot read the trusted certificates %1: %2"),
    // Who vouched for an NTS server's time, after a check.
    QT_TRANSLATE_NOOP("Tempikon", "%1: authenticated by %2"),
    QT_TRANSLATE_NOOP("Tempikon", "%1 authenticated by %2"),
    // Why the clock was not set, when neither the kernel nor the time service would.
    QT_TRANSLATE_NOOP("Tempikon",
                      "not permitted (run as root, give the program CAP_SYS_TIME, or use the "
                      "system's time service; see man tempikon); kernel: %1; time service: %2"),
};

// Reasons the clock's backends give, shown behind "Couldn't set system clock: ".
[[maybe_unused]] const char* const kReasons[] = {
    QT_TRANSLATE_NOOP("Tempikon", "The settings could not be saved."),
    QT_TRANSLATE_NOOP("Tempikon", "The autostart entry could not be changed."),
    QT_TRANSLATE_NOOP("Tempikon", "no home folder"),
    QT_TRANSLATE_NOOP("Tempikon", "unknown error"),
    QT_TRANSLATE_NOOP("Tempikon", "automatic time synchronisation is on"),
    QT_TRANSLATE_NOOP("Tempikon", "not authorised"),
    QT_TRANSLATE_NOOP("Tempikon", "no time service on this system"),
    QT_TRANSLATE_NOOP("Tempikon", "the time service did not answer"),
    // Why an NTS server gave no time.
    QT_TRANSLATE_NOOP("Tempikon", "the key server closed the connection"),
    QT_TRANSLATE_NOOP("Tempikon",
                      "the key server closed the connection before its answer was whole"),
    QT_TRANSLATE_NOOP("Tempikon", "the key request could not be sent"),
    QT_TRANSLATE_NOOP("Tempikon", "the key answer could not be read"),
    QT_TRANSLATE_NOOP("Tempikon", "no keys could be taken from the TLS session"),
    QT_TRANSLATE_NOOP("Tempikon", "the server sent no cookies"),
    QT_TRANSLATE_NOOP("Tempikon", "the server does not offer NTPv4"),
    QT_TRANSLATE_NOOP("Tempikon", "the server does not offer AES-SIV-CMAC-256"),
    QT_TRANSLATE_NOOP("Tempikon", "the server sent no certificate"),
    QT_TRANSLATE_NOOP("Tempikon", "the reply's extension fields are malformed"),
};

struct Pattern {
    QRegularExpression match;
    QString source;
};

const std::vector<Pattern>& Patterns() {
    static const std::vector<Pattern> patterns = [] {
        std::vector<Pattern> list;
        for (const char* source : kPatterns) {
            // The fixed pieces literally, each placeholder as a part. A part
            // spans lines only where the pattern does, so that a tooltip's
            // lines are taken one by one.
            static const QRegularExpression placeholder(QStringLiteral("%[12]"));
            const QString text = QString::fromUtf8(source);
            QStringList escaped;
            for (const QString& piece : text.split(placeholder))
                escaped << QRegularExpression::escape(piece);
            const QString expression = escaped.join(QStringLiteral("(.*)"));
            const auto options = text.contains(QLatin1Char('\n'))
                                     ? QRegularExpression::DotMatchesEverythingOption
                                     : QRegularExpression::NoPatternOption;
            list.push_back(
                {QRegularExpression(QLatin1Char('^') + expression + QLatin1Char('$'), options),
                 text});
        }
        return list;
    }();
    return patterns;
}

// Without a translation of the program's texts every text stays as it is,
// and no pattern needs matching (a lookup costs far less than the patterns).
bool Translating() {
    const char* probe = "Time set to %1 d=%2s";
    return QCoreApplication::translate(kContext, probe) != QString::fromUtf8(probe);
}

QString TranslatedText(const QString& text, int depth) {
    if (text.isEmpty() || QCoreApplication::instance() == nullptr || !Translating()) return text;
    const QByteArray utf8 = text.toUtf8();
    const QString whole = QCoreApplication::translate(kContext, utf8.constData());
    if (whole != text) return whole;
    // Three levels: authenticated, slewed, then the setting itself.
    if (depth > 2) return text;
    for (const Pattern& pattern : Patterns()) {
        const QRegularExpressionMatch m = pattern.match.match(text);
        if (!m.hasMatch()) continue;
        const QByteArray source = pattern.source.toUtf8();
        QString translated = QCoreApplication::translate(kContext, source.constData());
        if (translated == pattern.source) return text;
        // Parts are replaced in one pass, so a part holding "%2" stays as it is.
        QStringList parts;
        for (int i = 1; i <= m.lastCapturedIndex(); ++i)
            parts << TranslatedText(m.captured(i), depth + 1);
        return parts.size() == 1 ? translated.arg(parts[0])
                                 : translated.arg(parts.value(0), parts.value(1));
    }
    // A tooltip: the outcome, then one line for each server that gave no time.
    if (text.contains(QLatin1Char('\n'))) {
        QStringList lines = text.split(QLatin1Char('\n'));
        for (QString& line : lines) line = TranslatedText(line, depth);
        return lines.join(QLatin1Char('\n'));
    }
    // "<server>: <reason>": the host as it is, the reason in the user's language.
    static const QRegularExpression serverReason(
        QStringLiteral("^(\\S+(?: \\(Backup\\))?): (.+)$"));
    if (const QRegularExpressionMatch m = serverReason.match(text); m.hasMatch())
        return m.captured(1) + QStringLiteral(": ") + TranslatedText(m.captured(2), depth + 1);
    return text;
}

}  // namespace

QString Translated(const std::string& text) {
    return TranslatedText(toQString(text), 0);
}

bool LoadTranslations(const std::vector<std::string>& folders) {
    const QLocale locale = QLocale::system();
    for (const std::string& folder : folders) {
        for (const QString& sub : {QStringLiteral("/translations"), QString()}) {
            auto* translator = new QTranslator(QCoreApplication::instance());
            if (translator->load(locale, QStringLiteral("tempikon"), QStringLiteral("_"),
                                 toQString(folder) + sub)) {
                QCoreApplication::installTranslator(translator);
                // Qt's own texts (the Yes and No of a message box), where installed.
                auto* qtbase = new QTranslator(QCoreApplication::instance());
                if (qtbase->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
                    QCoreApplication::installTranslator(qtbase);
                } else {
                    delete qtbase;
                }
                return true;
            }
            delete translator;
        }
    }
    return false;
}

}  // namespace tempikon::qt
