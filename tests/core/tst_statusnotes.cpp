// The status bar's second line: which of its notes shows, and their texts.
#include "core/StatusNotes.h"

#include <QTest>

using namespace core;

class TestStatusNotes : public QObject {
    Q_OBJECT

private slots:
    // One note at a time, the most pressing one.
    void detailsLine_data() {
        QTest::addColumn<QString>(
            "notes"); // download, port, meter|gateway, current, read, saved, unanswered, note
        QTest::addColumn<QString>("line");
        const QString meter = QStringLiteral("COM2, 1200 bit/s, parzystość Nieparzyste, adres 17");
        QTest::newRow("connected, no read yet") << "meter" << meter + " · brak poprawnego odczytu";
        QTest::newRow("connected, reads failing")
            << "meter read" << meter + " · wartości z odczytu o 14:32:05";
        QTest::newRow("port cannot be opened") << "port meter read"
                                               << "COM2: brak takiego urządzenia.";
        QTest::newRow("download over everything") << "download port meter saved"
                                                  << "plik 1 z 4";
        QTest::newRow("after a download") << "saved read"
                                          << "Zapisano 3 rekordy do pliku a.csv.";
        QTest::newRow("off-line after reads") << "read"
                                              << "Nie połączono: wartości z odczytu o 14:32:05.";
        // Never answered: what to check, and the search.
        const QString search =
            QStringLiteral("; „Szukaj przepływomierza” (strona Parametry komunikacji) go znajdzie");
        QTest::newRow("never answered")
            << "meter unanswered read"
            << meter +
                   " · brak odpowiedzi: sprawdź prędkość, parzystość i adres oraz czy COM2 to port adaptera "
                   "przepływomierza" +
                   search;
        QTest::newRow("never answered through a gateway")
            << "gateway unanswered"
            << "tcp://192.0.2.7:502, adres 17 · brak odpowiedzi: sprawdź adres bramki i adres "
               "przepływomierza "
               "(prędkość i parzystość linii ustawia bramka)" +
                   search;
        // A link gone from the working directory: said beside the meter and its trouble.
        const QString gone =
            QStringLiteral("łącze ./COM2 zniknęło z katalogu roboczego: COM2 to teraz /dev/ttyS1");
        QTest::newRow("link gone, reads") << "meter note current" << meter + " · " + gone;
        QTest::newRow("link gone, no port") << "port meter note"
                                            << "COM2: brak takiego urządzenia. · " + gone;
    }
    void detailsLine() {
        QFETCH(QString, notes);
        QFETCH(QString, line);
        const QStringList has = notes.split(' ');
        StatusNotes n;
        if (has.contains("download")) n.Download = "plik 1 z 4";
        if (has.contains("port")) n.PortProblem = "COM2: brak takiego urządzenia.";
        if (has.contains("meter") || has.contains("gateway")) {
            modbus::LinkSettings l;
            l.PortName = has.contains("gateway") ? "tcp://192.0.2.7:502" : "COM2";
            l.BaudRate = 1200;
            l.Parity = modbus::kOddParity;
            l.DeviceAddress = 17;
            n.Meter = l;
        }
        n.Unanswered = has.contains("unanswered");
        if (has.contains("note"))
            n.PortNote = "łącze ./COM2 zniknęło z katalogu roboczego: COM2 to teraz /dev/ttyS1";
        n.ValuesCurrent = has.contains("current");
        if (has.contains("read")) n.LastGoodRead = "14:32:05";
        if (has.contains("saved")) n.Saved = SavedText("a.csv", 3);
        QCOMPARE(QString::fromStdString(DetailsLine(n)), line);
    }

    void savedTextCountsInPolish_data() {
        QTest::addColumn<int>("records");
        QTest::addColumn<QString>("noun");
        QTest::newRow("1") << 1 << "rekord";
        QTest::newRow("4") << 4 << "rekordy";
        QTest::newRow("12") << 12 << "rekordów";
        QTest::newRow("22") << 22 << "rekordy";
        QTest::newRow("112") << 112 << "rekordów";
    }
    void savedTextCountsInPolish() {
        QFETCH(int, records);
        QFETCH(QString, noun);
        QCOMPARE(QString::fromStdString(SavedText("C:\\archiwum.csv", size_t(records))),
                 QStringLiteral("Zapisano %1 %2 do pliku C:\\archiwum.csv.").arg(records).arg(noun));
        // In a message box the path has a line of its own.
        QCOMPARE(QString::fromStdString(SavedText("C:\\archiwum.csv", size_t(records), "\n")),
                 QStringLiteral("Zapisano %1 %2 do pliku\nC:\\archiwum.csv.").arg(records).arg(noun));
    }
};

QTEST_APPLESS_MAIN(TestStatusNotes)
#include "tst_statusnotes.moc"
