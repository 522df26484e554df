// The settings file byte for byte: what is written, and what each kind of
// file gives when read back.
#include "model/ConfigFile.h"

#include <QTemporaryDir>
#include <QTest>

using namespace model;

namespace {
// The lines read as one comparable text: "2 4 1 - - | - - -", the port of
// line 9 if taken, then the stop message.
QString Describe(const ConfigLines& lines) {
    QStringList parts;
    for (const auto& index : lines.Lists) parts << (index ? QString::number(*index) : "-");
    parts << "|";
    for (const auto& text : lines.Texts) parts << (text ? "[" + QString::fromStdString(*text) + "]" : "-");
    if (lines.PortName) parts << "port [" + QString::fromStdString(*lines.PortName) + "]";
    if (!lines.Stopped.empty()) parts << QString::fromStdString(lines.Stopped);
    return parts.join(' ');
}
} // namespace

class TestConfigFile : public QObject {
    Q_OBJECT
private slots:
    void written() {
        QCOMPARE(QByteArray::fromStdString(FormatConfig({})),
                 QByteArray("0\r\n3\r\n0\r\n0\r\n0\r\n  1\r\n1000\r\n1000\r\n"));
        ConfigValues v;
        v.Lists = {11, 7, -1, 1, 0};
        v.Address = "x ł";
        v.Period = "";
        QCOMPARE(QByteArray::fromStdString(FormatConfig(v)),
                 QByteArray("11\r\n7\r\n-1\r\n1\r\n0\r\nx \xB3\r\n\r\n1000\r\n"));
        // A port beyond the twelve: line 1 says none of them, whatever the index.
        v.PortName = "rtu+tcp://[fe80::1]:4001";
        QCOMPARE(QByteArray::fromStdString(FormatConfig(v)),
                 QByteArray("-1\r\n7\r\n-1\r\n1\r\n0\r\nx \xB3\r\n\r\n1000\r\nrtu+tcp://[fe80::1]:4001\r\n"));
    }

    void read_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("lines");
        QTest::newRow("defaults") << QByteArray("0\r\n3\r\n0\r\n0\r\n0\r\n  1\r\n1000\r\n1000\r\n")
                                  << "0 3 0 0 0 | [  1] [1000] [1000]";
        QTest::newRow("three lines") << QByteArray("2\r\n4\r\n1\r\n") << "2 4 1 - - | - - -";
        QTest::newRow("LF, no last end")
            << QByteArray("1\n2\n3\n1\n0\n  7\n5\n300") << "1 2 3 1 0 | [  7] [5] [300]";
        QTest::newRow("Windows-1250 text")
            << QByteArray("0\r\n0\r\n0\r\n0\r\n0\r\n\xB3\r\n") << "0 0 0 0 0 | [ł] - -";
        QTest::newRow("past eight lines")
            << QByteArray("0\n0\n0\n0\n0\n1\n2\n3\n4\n") << "0 0 0 0 0 | [1] [2] [3]";
        QTest::newRow("empty") << QByteArray() << "- - - - - | - - -";
        QTest::newRow("port beyond the twelve")
            << QByteArray("-1\r\n3\r\n0\r\n0\r\n0\r\n  1\r\n1000\r\n1000\r\n/dev/ttyUSB0\r\nx\r\n")
            << "-1 3 0 0 0 | [  1] [1000] [1000] port [/dev/ttyUSB0]";
        QTest::newRow("ninth line beside an index")
            << QByteArray("2\r\n3\r\n0\r\n0\r\n0\r\n  1\r\n1000\r\n1000\r\ntcp://10.0.0.7\r\n")
            << "2 3 0 0 0 | [  1] [1000] [1000]";
        QTest::newRow("empty ninth line")
            << QByteArray("-1\n3\n0\n0\n0\n1\n2\n3\n\n") << "-1 3 0 0 0 | [1] [2] [3]";
        QTest::newRow("not a number")
            << QByteArray("1\r\n2\r\nx\r\n1\r\n")
            << "1 2 - - - | - - - cfg, wiersz 3: 'x' nie jest poprawną liczbą całkowitą.";
        QTest::newRow("blank list line")
            << QByteArray("\r\n")
            << "- - - - - | - - - cfg, wiersz 1: '' nie jest poprawną liczbą całkowitą.";
    }
    void read() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, lines);
        QCOMPARE(Describe(ParseConfig(bytes.toStdString(), "cfg")), lines);
    }

    void savedAndLoaded() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("VQT540.cfg").toStdString();
        const auto absent = LoadConfig(path);
        QVERIFY(absent && !*absent);
        ConfigValues v;
        v.Lists.Speed = 7;
        v.Timeout = "250";
        QVERIFY(SaveConfig(path, v));
        const auto loaded = LoadConfig(path);
        QVERIFY(loaded && *loaded);
        QCOMPARE(Describe(**loaded), QString("0 7 0 0 0 | [  1] [1000] [250]"));
        QVERIFY(!SaveConfig(dir.filePath("gone/VQT540.cfg").toStdString(), v));
    }
};

QTEST_APPLESS_MAIN(TestConfigFile)
#include "tst_configfile.moc"
