// The shared number format: fixed and exponent forms, rounding, signs, and a
// property check over random values against strtod.
#include "model/NumberFormat.h"

#include <QLocale>
#include <QTest>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

using model::FormatNumber;
using model::FormatRatio;

class TestNumberFormat : public QObject {
    Q_OBJECT
    std::string sep;

    QString F(double v, int decimals, int precision = 7) {
        return QString::fromStdString(FormatNumber(v, decimals, precision, sep));
    }
    QString R(int64_t n, int64_t d, int decimals, int precision = 10) {
        return QString::fromStdString(FormatRatio(n, d, decimals, precision, sep));
    }

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
        sep = QLocale().decimalPoint().toStdString();
        QCOMPARE(QString::fromStdString(sep), QString(","));
    }

    void fixedForm_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << 3 << "0,000";
        QTest::newRow("negative zero") << -0.0 << 1 << "0,0";
        QTest::newRow("below one") << 0.24 << 3 << "0,240";
        QTest::newRow("padded after 7 digits") << double(12345.6789f) << 3 << "12345,680";
        QTest::newRow("tiny negative is zero") << double(-0.0001f) << 3 << "0,000";
        QTest::newRow("rounds up to the last decimal") << double(0.0005f) << 3 << "0,001";
        QTest::newRow("negative") << -12.25 << 1 << "-12,3"; // exact half: away from zero
        QTest::newRow("exact half up") << 2.5 << 0 << "3";
        QTest::newRow("7 integer digits") << 1234567.4 << 1 << "1234567,0";
        QTest::newRow("7 digits, half away") << 1234567.5 << 1 << "1234568,0";
        QTest::newRow("carry into a new digit") << 99.99 << 1 << "100,0";
    }
    void fixedForm() {
        QFETCH(double, value);
        QFETCH(int, decimals);
        QFETCH(QString, text);
        QCOMPARE(F(value, decimals), text);
    }

    void exponentForm_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("text");
        QTest::newRow("flow 2E007") << 20000000.0 << 3 << "2E007";
        QTest::newRow("8 integer digits") << 12345679.2 << 1 << "1,234568E7";
        QTest::newRow("negative") << -12345679.2 << 1 << "-1,234568E7";
        QTest::newRow("carry to 8 digits") << 9999999.96 << 1 << "1E7";
        QTest::newRow("large float") << double(3.4028235e38f) << 3 << "3,402823E038";
        QTest::newRow("trailing zeros dropped") << 12300000.0 << 1 << "1,23E7";
    }
    void exponentForm() {
        QFETCH(double, value);
        QFETCH(int, decimals);
        QFETCH(QString, text);
        QCOMPARE(F(value, decimals), text);
    }

    void nonFinite() {
        QCOMPARE(F(std::numeric_limits<double>::quiet_NaN(), 3), QString("NAN"));
        QCOMPARE(F(-std::numeric_limits<double>::quiet_NaN(), 3), QString("NAN"));
        QCOMPARE(F(std::numeric_limits<double>::infinity(), 3), QString("INF"));
        QCOMPARE(F(-std::numeric_limits<double>::infinity(), 1), QString("-INF"));
        QCOMPARE(R(0, 0, 1), QString("NAN"));
        QCOMPARE(R(-5, 0, 1), QString("-INF"));
    }

    // The display precision of 10 digits (4 for the cut-off).
    void precisionTen() {
        QCOMPARE(F(1.0, 4, 10), QString("1,0000"));
        QCOMPARE(F(12345678901.0, 3, 10), QString("1,23456789E010"));
        QCOMPARE(F(1234567890.4, 1, 10), QString("1234567890,0"));
        QCOMPARE(R(255, 10, 1, 4), QString("25,5"));
        QCOMPARE(R(123, 10, 1, 4), QString("12,3"));
    }

    // Exact ratios round on the true value, where a double quotient would
    // land below the half (0.15 and 0.35 are below it in binary).
    void exactRatios() {
        QCOMPARE(R(9, 60, 1), QString("0,2"));
        QCOMPARE(R(21, 60, 1), QString("0,4"));
        QCOMPARE(R(-9, 60, 1), QString("-0,2"));
        QCOMPARE(R(3600, 60, 1), QString("60,0"));
        QCOMPARE(R(-1, 1000, 3), QString("-0,001"));
        QCOMPARE(R(240, 1000, 3), QString("0,240"));
        QCOMPARE(R(std::numeric_limits<int32_t>::min(), 10, 1), QString("-214748364,8"));
        QCOMPARE(R(std::numeric_limits<int64_t>::min(), 1, 1, 7), QString("-9,223372E18"));
        QCOMPARE(R(1, -3, 3), QString("-0,333"));
        QCOMPARE(R(2, 3, 3), QString("0,667"));
    }

    void otherSeparator() {
        QCOMPARE(QString::fromStdString(FormatNumber(12.5, 3, 10, ".")), QString("12.500"));
        QCOMPARE(QString::fromStdString(FormatNumber(123456789.0, 1, 7, ".")), QString("1.234568E8"));
    }

    // Random values of every magnitude: the text reads back within half a unit
    // of its last kept digit and has the form the rules give.
    void randomValuesReadBack() {
        std::mt19937_64 rng(20240611);
        std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
        std::uniform_int_distribution<int> exponent(-8, 12);
        for (int i = 0; i < 20000; ++i) {
            const double v = mantissa(rng) * std::pow(10.0, exponent(rng));
            const int decimals = 1 + i % 3;
            const int precision = i % 2 ? 7 : 10;
            std::string text = FormatNumber(v, decimals, precision, ",");
            const size_t e = text.find('E');
            std::string c = text;
            for (char& ch : c) {
                if (ch == ',') ch = '.';
            }
            const double back = std::strtod(c.c_str(), nullptr);
            double unit = 0;
            if (e == std::string::npos) {
                QCOMPARE(text.size() - text.find(','), size_t(decimals) + 1);
                const double magnitude = std::floor(std::log10(std::fabs(v)));
                unit = std::pow(10.0, std::max(magnitude - precision + 1, double(-decimals)));
            } else {
                const int power = std::atoi(text.c_str() + e + 1);
                QVERIFY(text.size() - e - 1 >= size_t(decimals));
                QVERIFY2(power >= precision, text.c_str());
                unit = std::pow(10.0, power - precision + 1);
            }
            QVERIFY2(std::fabs(back - v) <= 0.5 * unit * (1 + 1e-9), text.c_str());
            if (text[0] == '-') QVERIFY(v < 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestNumberFormat)
#include "tst_numberformat.moc"
