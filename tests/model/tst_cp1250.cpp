// Windows-1250 <-> UTF-8 on the Polish letters, the holes of the code page
// and malformed UTF-8.
#include "model/Cp1250.h"

#include <QTest>

#include <string>

using model::Cp1250ToUtf8;
using model::Utf8ToCp1250;

namespace {
std::string Bytes(std::initializer_list<int> list) {
    std::string s;
    for (const int b : list) s += static_cast<char>(b);
    return s;
}
} // namespace

class TestCp1250 : public QObject {
    Q_OBJECT
private slots:
    void polishLetters() {
        // ą ć ę ł ń ó ś ź ż and Ą Ć Ę Ł Ń Ó Ś Ź Ż in the code page.
        const std::string lower = Bytes({0xB9, 0xE6, 0xEA, 0xB3, 0xF1, 0xF3, 0x9C, 0x9F, 0xBF});
        const std::string upper = Bytes({0xA5, 0xC6, 0xCA, 0xA3, 0xD1, 0xD3, 0x8C, 0x8F, 0xAF});
        QCOMPARE(Cp1250ToUtf8(lower), std::string("ąćęłńóśźż"));
        QCOMPARE(Cp1250ToUtf8(upper), std::string("ĄĆĘŁŃÓŚŹŻ"));
        QCOMPARE(Utf8ToCp1250("ąćęłńóśźż"), lower);
        QCOMPARE(Utf8ToCp1250("ĄĆĘŁŃÓŚŹŻ"), upper);
        QCOMPARE(Utf8ToCp1250("Zanik napięcia zasilania"), "Zanik napi" + Bytes({0xEA}) + "cia zasilania");
    }

    void everyDefinedByteRoundTrips() {
        int undefined = 0;
        for (int b = 1; b < 256; ++b) {
            const std::string one(1, static_cast<char>(b));
            const std::string utf8 = Cp1250ToUtf8(one);
            if (utf8 == "\xEF\xBF\xBD") {
                ++undefined;
                QCOMPARE(Utf8ToCp1250(utf8), std::string("?"));
                continue;
            }
            QCOMPARE(Utf8ToCp1250(utf8), one);
        }
        QCOMPARE(undefined, 5); // 0x81, 0x83, 0x88, 0x90, 0x98
        QCOMPARE(Cp1250ToUtf8(Bytes({0x80, 0xFF, 0xA0})), std::string("€˙\u00A0"));
    }

    void unmappableAndMalformed() {
        QCOMPARE(Utf8ToCp1250("a€b"), "a" + Bytes({0x80}) + "b");
        QCOMPARE(Utf8ToCp1250("ж"), std::string("?"));                // outside the code page
        QCOMPARE(Utf8ToCp1250("\xF0\x9F\x98\x80"), std::string("?")); // outside the basic plane
        QCOMPARE(Utf8ToCp1250("\xC3"), std::string("?"));             // truncated
        QCOMPARE(Utf8ToCp1250("\xC0\xAF"), std::string("??"));        // overlong '/'
        QCOMPARE(Utf8ToCp1250("\xED\xA0\x80x"), std::string("???x")); // surrogate
        QCOMPARE(Utf8ToCp1250(std::string("a\0b", 3)), std::string("a\0b", 3));
    }
};

QTEST_GUILESS_MAIN(TestCp1250)
#include "tst_cp1250.moc"
