// The table of exit codes against the manual page, and the --help made from it.
#include "cli/ExitCodes.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace {

// A request's arguments: words, or quoted strings with their blanks.
QStringList Arguments(const QString& line) {
    QStringList args;
    static const QRegularExpression word(QStringLiteral("\"([^\"]*)\"|(\\S+)"));
    for (auto it = word.globalMatch(line); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        args << (m.capturedStart(1) >= 0 ? m.captured(1) : m.captured(2));
    }
    return args;
}

struct ManEntry {
    int Code = -1;
    QStringList Bold; // what the entry sets in bold: the commands it names
};

// The EXIT STATUS section: ".TP", ".B code", then the text up to the next ".TP".
QList<ManEntry> ExitStatusOfManual(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    QList<ManEntry> entries;
    bool inSection = false, expectCode = false;
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String(".SH "))) inSection = line == QLatin1String(".SH EXIT STATUS");
        if (!inSection) continue;
        const QStringList args = Arguments(line);
        if (line == QLatin1String(".TP")) {
            expectCode = true;
        } else if (expectCode && args.value(0) == QLatin1String(".B")) {
            entries.append(ManEntry{args.value(1).toInt(), {}});
            expectCode = false;
        } else if (!entries.isEmpty() &&
                   (args.value(0) == QLatin1String(".B") || args.value(0) == QLatin1String(".BR"))) {
            // .B: all bold; .BR: bold and roman by turns, starting bold.
            const qsizetype step = args.value(0) == QLatin1String(".B") ? 1 : 2;
            for (qsizetype i = 1; i < args.size(); i += step) entries.last().Bold << args[i];
        }
    }
    return entries;
}

} // namespace

class TestExitCodes : public QObject {
    Q_OBJECT
private slots:
    void manualListsTheTable() {
        const QList<ManEntry> manual = ExitStatusOfManual(QStringLiteral(VQT_MAN_PAGE));
        QList<int> manualCodes, tableCodes;
        for (const ManEntry& e : manual) manualCodes << e.Code;
        for (const cli::ExitCodeEntry& e : cli::kExitCodes) tableCodes << e.Code;
        QCOMPARE(manualCodes, tableCodes);
        for (qsizetype i = 0; i < manual.size(); ++i) {
            const QString commands = QString::fromUtf8(cli::kExitCodes[size_t(i)].Commands.data(),
                                                       qsizetype(cli::kExitCodes[size_t(i)].Commands.size()));
            for (const QString& command : commands.split(QStringLiteral(", "), Qt::SkipEmptyParts))
                QVERIFY2(
                    manual[i].Bold.contains(command),
                    qPrintable(QStringLiteral("code %1 does not name %2").arg(manual[i].Code).arg(command)));
        }
    }

    // Every code starts a line of its own, and no line is wider than a terminal.
    void helpListsEveryCode() {
        const QStringList lines = QString::fromStdString(cli::ExitCodeHelp()).split(QLatin1Char('\n'));
        for (const QString& line : lines) QVERIFY2(line.size() <= 80, qPrintable(line));
        for (const cli::ExitCodeEntry& e : cli::kExitCodes) {
            const QString start = QStringLiteral("  %1").arg(int(e.Code)).leftJustified(6);
            QVERIFY2(std::any_of(lines.begin(), lines.end(),
                                 [&](const QString& line) {
                                     return line.startsWith(start) &&
                                            line.contains(QString::fromUtf8(e.Commands.data(),
                                                                            qsizetype(e.Commands.size())));
                                 }),
                     qPrintable(start));
        }
    }
};

QTEST_GUILESS_MAIN(TestExitCodes)
#include "tst_exitcodes.moc"
