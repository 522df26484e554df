// The export file byte for byte: header, numbering, line ends, the last line
// of an update, the time order, and writes that fail.
#include "core/ArchiveCycle.h"
#include "core/ExportFile.h"
#include "platform/FileIo.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace core;

class TestExportFile : public QObject {
    Q_OBJECT
private slots:
    void headerAndNumberedLines() {
        QCOMPARE(QByteArray::fromStdString(core::ExportHeader()),
                 QByteArray("Nr logu;Data;Czas;Przep\xB3yw chwilowy [m3/h];Licznik w prz\xF3"
                            "d L+;Licznik w ty\xB3 L-;Zdarzenia"));
        QCOMPARE(QByteArray::fromStdString(core::NumberedLines({"a;b", "c;\xB3"}, 0)),
                 QByteArray("0;a;b\r\n1;c;\xB3\r\n"));
        QCOMPARE(QByteArray::fromStdString(core::NumberedLines({"x"}, 42)), QByteArray("42;x\r\n"));
    }

    void lastLine_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("read"); // "number|date|time", or "-" when refused
        QTest::newRow("CR LF at the end")
            << QByteArray("Nr logu;Data\r\n41;2024-05-01;12:00:00;1,0;\r\n") << "41|2024-05-01|12:00:00";
        QTest::newRow("no line end") << QByteArray("h\r\n7;d;t") << "7|d|t";
        QTest::newRow("LF only, blanks before the number") << QByteArray("h\n  12;d;t;x\n") << "12|d|t";
        QTest::newRow("number only") << QByteArray("h\r\n5;") << "5||";
        QTest::newRow("empty file") << QByteArray() << "-";
        QTest::newRow("header only") << QByteArray("Nr logu;Data;Czas\r\n") << "-";
        QTest::newRow("blank last line") << QByteArray("h\r\n3;d;t\r\n\r\n") << "-";
        QTest::newRow("no semicolon") << QByteArray("h\r\n3") << "-";
        QTest::newRow("number and text") << QByteArray("h\r\n3a;d;t") << "-";
        QTest::newRow("no room for the next number") << QByteArray("2147483647;d;t") << "-";
    }
    void lastLine() {
        QFETCH(QByteArray, content);
        QFETCH(QString, read);
        const auto last = core::ReadLastExportLine(content.toStdString());
        const QString got =
            last ? QStringLiteral("%1|%2|%3")
                       .arg(last->LogNumber)
                       .arg(QString::fromStdString(last->Date), QString::fromStdString(last->Time))
                 : QStringLiteral("-");
        QCOMPARE(got, read);
    }

    void possibleMoments_data() {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<bool>("possible");
        QTest::newRow("ordinary") << "2024-05-01"
                                  << "12:15:00" << true;
        QTest::newRow("leap day") << "2024-02-29"
                                  << "23:59:59" << true;
        QTest::newRow("no leap day") << "2023-02-29"
                                     << "00:00:00" << false;
        QTest::newRow("month 13") << "2024-13-01"
                                  << "00:00:00" << false;
        QTest::newRow("day 32") << "2024-01-32"
                                << "00:00:00" << false;
        QTest::newRow("30 April only") << "2024-04-31"
                                       << "00:00:00" << false;
        QTest::newRow("25:61") << "2024-01-01"
                               << "25:61:00" << false;
        QTest::newRow("year 999") << "999-01-01"
                                  << "00:00:00" << false;
        QTest::newRow("erased") << "65535-255-255"
                                << "255:255:255" << false;
    }
    void possibleMoments() {
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(bool, possible);
        QCOMPARE(core::IsPossibleMoment(date.toStdString(), time.toStdString()), possible);
    }

    // An erased last line is no anchor: the update goes on from the newest
    // line before it, and numbers on from the last line.
    void updateAnchorSkipsImpossibleLines() {
        const std::string erased = "Nr\r\n4;2024-05-01;12:00:00;1\r\n5;65535-255-255;255:255:255;NAN\r\n";
        const auto anchor = core::ReadUpdateAnchor(erased);
        QVERIFY(anchor.has_value());
        QCOMPARE(anchor->LogNumber, 5);
        QCOMPARE(QString::fromStdString(anchor->Date + " " + anchor->Time), QString("2024-05-01 12:00:00"));
        const auto none = core::ReadUpdateAnchor("Nr\r\n0;2024-13-01;00:00:00;\r\n");
        QVERIFY(none && none->Date.empty() && none->Time.empty());
    }

    void timeOrder_data() {
        QTest::addColumn<QStringList>("reading");
        QTest::addColumn<QStringList>("written");
        const QStringList months{"2024-01", "2024-02", "2024-03", "2024-04", "2024-05", "2024-06"};
        QTest::newRow("a run of newer records first")
            << QStringList{"2024-05", "2024-06", "2024-01", "2024-02", "2024-03", "2024-04"} << months;
        QTest::newRow("already in order") << months << months;
        QTest::newRow("one line") << QStringList{"x"} << QStringList{"x"};
        QTest::newRow("none") << QStringList{} << QStringList{};
    }
    void timeOrder() {
        QFETCH(QStringList, reading);
        QFETCH(QStringList, written);
        std::vector<std::string> lines;
        for (const QString& l : reading) lines.push_back(l.toStdString());
        core::PutInTimeOrder(lines);
        QStringList got;
        for (const auto& l : lines) got << QString::fromStdString(l);
        QCOMPARE(got, written);
    }

    void refusedUpdateLeavesTheFileAlone_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("header only") << QByteArray("Nr logu;Data;Czas\r\n");
        QTest::newRow("blank last line") << QByteArray("Nr logu\r\n3;d;t\r\n\r\n");
    }
    void refusedUpdateLeavesTheFileAlone() {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("old.csv"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        const platform::OrReason<std::string> content2 = platform::ReadWholeFile(path.toStdString());
        QCOMPARE(content2.error, std::string());
        QVERIFY(!core::ReadLastExportLine(*content2));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), content);
    }

    void failedWritesChangeNothing() {
        QTemporaryDir dir;
        const std::string path = dir.filePath(QStringLiteral("export.csv")).toStdString();
        QCOMPARE(core::CreateExportFile(path).error, std::string());
        QCOMPARE(platform::ReplaceWholeFile(path, "old\r\n", "line\r\n").error, std::string());
        // The folder is gone: the error names the file and the reason.
        const std::string gone = dir.filePath(QStringLiteral("gone/export.csv")).toStdString();
        const std::string error = platform::ReplaceWholeFile(gone, "a", "b").error;
        QVERIFY(QString::fromStdString(error).contains(QString::fromStdString(gone)));
        QVERIFY(QString::fromStdString(error).contains(QStringLiteral("No such file")));
        QVERIFY(!core::CreateExportFile(gone).error.empty());
        QVERIFY(!platform::CheckAppendable(gone).error.empty());
        // A directory in the file's place cannot be replaced; nothing is left beside it.
        QVERIFY(QDir().mkpath(dir.filePath("dir.csv")));
        QVERIFY(!platform::ReplaceWholeFile(dir.filePath("dir.csv").toStdString(), "a", "b").error.empty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList{"export.csv"});
        QFile f(QString::fromStdString(path));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("old\r\nline\r\n"));
    }
};

QTEST_APPLESS_MAIN(TestExportFile)
#include "tst_exportfile.moc"
