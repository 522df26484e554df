// The file layer on POSIX: its error sentences.
#include "platform/FileIo.h"

#include <QTest>

using platform::FileErrorText;

class TestFileIo : public QObject {
    Q_OBJECT
private slots:
    void errorTexts() {
        QCOMPARE(FileErrorText("Zapis", "a.csv", "x"), std::string("Zapis pliku a.csv nie powiódł się (x)."));
        QCOMPARE(FileErrorText("Otwarcie do dopisania", "a", "x"),
                 std::string("Otwarcie do dopisania pliku a nie powiodło się (x)."));
    }
};

QTEST_GUILESS_MAIN(TestFileIo)
#include "tst_fileio.moc"
