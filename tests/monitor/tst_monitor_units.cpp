// Text-to-number conversions, the JPEG decoder, the two list widgets and the
// consumption report's rows.
#include "monitor/ComboBoxes.h"
#include "monitor/Convert.h"
#include "monitor/JpegImage.h"
#include "monitor/Messages.h"
#include "monitor/ReportPdf.h"
#include "monitor/ReportTable.h"
#include "monitor/Resources.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QSignalSpy>
#include <QTest>
#include <QTextBoundaryFinder>

#include <limits>

using namespace monitor;

class TestMonitorUnits : public QObject {
    Q_OBJECT
private slots:
    void wholeNumbers_data();
    void wholeNumbers();
    void wholeNumberErrors_data();
    void wholeNumberErrors();
    void decimalNumbers();
    void tickInterval_data();
    void tickInterval();

    void decodesEmbeddedPicture();
    void rejectsDamagedPictures();

    void pickOnlyListReportsOnlyUserChoices();
    void dropDownKindSwitchesAtRunTime();
    void simpleComboStepsItemsWithArrowKeys();

    void pathBreaksOnlyAfterSeparators_data();
    void pathBreaksOnlyAfterSeparators();

    void reportRows_data();
    void reportRows();
    void reportPdfCutsNoNumber();
};

void TestMonitorUnits::wholeNumbers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("two blanks") << "  1" << 1;
    QTest::newRow("plain") << "247" << 247;
    QTest::newRow("blanks and sign") << "  -7" << -7;
    QTest::newRow("plus") << "+12" << 12;
    QTest::newRow("leading zeros") << "0010" << 10;
    QTest::newRow("largest") << "2147483647" << 2147483647;
    QTest::newRow("smallest") << "-2147483648" << int(-2147483647 - 1);
}

void TestMonitorUnits::wholeNumbers() {
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(StrToInt(text), value);
}

void TestMonitorUnits::wholeNumberErrors_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    const QString notNumber = QStringLiteral("'%1' nie jest poprawną liczbą całkowitą.");
    const QString range = QStringLiteral("Liczba '%1' jest poza zakresem liczb całkowitych.");
    for (const char* text : {"", "   ", "-", "1 ", "1,0", "1.0", "abc", "0x10", "$10", "- 5", "1-", "١"})
        QTest::newRow(text) << QString::fromUtf8(text) << notNumber.arg(QString::fromUtf8(text));
    QTest::newRow("above 32 bits") << "2147483648" << range.arg("2147483648");
    QTest::newRow("below 32 bits") << "-2147483649" << range.arg("-2147483649");
    QTest::newRow("many digits") << "99999999999999999999999" << range.arg("99999999999999999999999");
}

void TestMonitorUnits::wholeNumberErrors() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    try {
        StrToInt(text);
        QFAIL("no error");
    } catch (const ConvertError& e) {
        QCOMPARE(QString::fromUtf8(e.what()), message);
    }
}

void TestMonitorUnits::decimalNumbers() {
    const QLocale polish(QLocale::Polish, QLocale::Poland);
    QCOMPARE(StrToFloat(QStringLiteral("12,5"), polish), 12.5);
    QCOMPARE(StrToFloat(QStringLiteral(" -0,25 "), polish), -0.25);
    QCOMPARE(StrToFloat(QStringLiteral("3"), polish), 3.0);
    QCOMPARE(StrToFloat(QStringLiteral(",5"), polish), 0.5);
    QCOMPARE(StrToFloat(QStringLiteral("1,5E3"), polish), 1500.0);
    QCOMPARE(StrToFloat(QStringLiteral("2.5"), QLocale::c()), 2.5);
    // The default locale is the one the tests pin.
    QCOMPARE(StrToFloat(QStringLiteral("0,1")), 0.1);
    for (const char* bad :
         {"2.5", "1 000,0", "1.000,0", "", ",", "1,2,3", "1e", "abc", "inf", "nan", "1,0x"}) {
        try {
            StrToFloat(QString::fromUtf8(bad), polish);
            QFAIL(bad);
        } catch (const ConvertError& e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("'%1' nie jest poprawną liczbą.").arg(bad));
        }
    }
    QVERIFY_THROWS_EXCEPTION(ConvertError, StrToFloat(QStringLiteral("1E400"), polish));
}

void TestMonitorUnits::tickInterval_data() {
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("tick");
    QTest::newRow("default") << 1000 << 50;
    QTest::newRow("1,5 up") << 30 << 2;
    QTest::newRow("2,5 to even") << 50 << 2;
    QTest::newRow("3,5 to even") << 70 << 4;
    QTest::newRow("10") << 200 << 10;
    QTest::newRow("1,05") << 21 << 1;
    QTest::newRow("1,45") << 29 << 1;
    QTest::newRow("exactly 1") << 20 << 1;
    QTest::newRow("zero") << 0 << 1;
    QTest::newRow("negative") << -100 << 1;
    QTest::newRow("largest") << 2147483647 << 107374182;
}

void TestMonitorUnits::tickInterval() {
    QFETCH(int, timeout);
    QFETCH(int, tick);
    QCOMPARE(TickInterval(timeout), tick);
}

namespace {
QByteArray embeddedPicture() {
    InitResources();
    QFile file(QStringLiteral(":/monitor/strip.jpg"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}
} // namespace

void TestMonitorUnits::decodesEmbeddedPicture() {
    const QByteArray data = embeddedPicture();
    QVERIFY(!data.isEmpty());
    QString error = QStringLiteral("stale");
    const QImage image = DecodeJpeg(data, &error);
    QVERIFY2(!image.isNull(), qPrintable(error));
    QVERIFY(error.isEmpty());
    QCOMPARE(image.size(), QSize(150, 440));
    // The strip fades from navy at the top to sky blue at the bottom.
    const QColor top = image.pixelColor(2, 2);
    const QColor bottom = image.pixelColor(2, 437);
    QVERIFY(top.blue() > top.red() + 60);
    QVERIFY(bottom.red() > top.red() + 80);
}

void TestMonitorUnits::rejectsDamagedPictures() {
    const QByteArray good = embeddedPicture();
    QVERIFY(!good.isEmpty());
    const auto expectFailure = [](const QByteArray& data, const char* what) {
        QString error;
        const QImage image = DecodeJpeg(data, &error);
        QVERIFY2(image.isNull(), what);
        QVERIFY2(!error.isEmpty(), what);
    };
    expectFailure(QByteArray(), "empty");
    QByteArray garbage(4000, '\0');
    for (int i = 0; i < garbage.size(); ++i) garbage[i] = char((i * 7919 + 13) & 0xFF);
    expectFailure(garbage, "garbage");
    expectFailure(good.left(good.size() / 2), "truncated");
    expectFailure(good.left(300), "header only");

    // Scan data overwritten in the middle: libjpeg only warns; that fails too.
    QByteArray scribbled = good;
    for (qsizetype i = scribbled.size() / 2; i < scribbled.size() / 2 + 64; ++i) scribbled[i] = char(0xFF);
    expectFailure(scribbled, "scribbled scan data");

    // Frame header (SOF0) sizes: 12288 x 12288 is within libjpeg's limits but
    // refused before any allocation; a zero-sized one is refused by libjpeg.
    const qsizetype sof = good.indexOf(QByteArray("\xFF\xC0", 2));
    QVERIFY(sof > 0);
    QByteArray huge = good;
    for (int i = 0; i < 4; ++i) huge[sof + 5 + i] = char(i % 2 == 0 ? 0x30 : 0x00);
    QString error;
    QVERIFY(DecodeJpeg(huge, &error).isNull());
    QCOMPARE(error, QStringLiteral("picture too large"));
    QByteArray empty = good;
    for (int i = 0; i < 4; ++i) empty[sof + 5 + i] = 0;
    expectFailure(empty, "zero size");

    // The decoder is usable again after a failure.
    QVERIFY(!DecodeJpeg(good).isNull());
}

void TestMonitorUnits::pickOnlyListReportsOnlyUserChoices() {
    DropDownBox box(DropDownBox::Kind::PickOnly);
    box.addItems({QStringLiteral("Brak"), QStringLiteral("Parzyste"), QStringLiteral("Nieparzyste")});
    QSignalSpy changes(&box, &DropDownBox::userChanged);
    box.setItemIndex(-1);
    QCOMPARE(box.itemIndex(), -1);
    box.setItemIndex(1);
    box.setText(QStringLiteral("Nieparzyste"));
    QCOMPARE(box.itemIndex(), 2);
    box.setText(QStringLiteral("nic"));
    QCOMPARE(box.itemIndex(), -1);
    box.setItemIndex(7); // an index the list does not have: no selection
    QCOMPARE(box.itemIndex(), -1);
    QCOMPARE(changes.count(), 0);

    box.setItemIndex(0);
    QTest::keyClick(&box, Qt::Key_Down); // the user steps to the next item
    QCOMPARE(box.itemIndex(), 1);
    QCOMPARE(changes.count(), 1);
    QVERIFY(!box.isEditable());
}

void TestMonitorUnits::dropDownKindSwitchesAtRunTime() {
    DropDownBox box(DropDownBox::Kind::PickOnly);
    box.addItems({QStringLiteral("1"), QStringLiteral("10"), QStringLiteral("100"), QStringLiteral("X")});
    box.setItemIndex(1);
    QSignalSpy changes(&box, &DropDownBox::userChanged);

    for (int round = 0; round < 2; ++round) {
        box.setKind(DropDownBox::Kind::DropDown);
        QCOMPARE(box.kind(), DropDownBox::Kind::DropDown);
        QVERIFY(box.isEditable());
        QCOMPARE(box.text(), QStringLiteral("10"));
        QCOMPARE(box.itemIndex(), 1);
        // The program writes a value the list does not hold.
        box.setText(QStringLiteral("1000"));
        QCOMPARE(box.text(), QStringLiteral("1000"));
        QCOMPARE(box.itemIndex(), -1);
        QCOMPARE(box.count(), 4);
        QCOMPARE(changes.count(), round);

        // Typing reaches the handler also after a switch back and forth.
        box.lineEdit()->clear();
        QTest::keyClicks(box.lineEdit(), QStringLiteral("7"));
        QCOMPARE(changes.count(), round + 1);
        QCOMPARE(box.text(), QStringLiteral("7"));
        QCOMPARE(box.itemIndex(), -1);
        QTest::keyClick(box.lineEdit(), Qt::Key_Return); // typed text never becomes an item
        QCOMPARE(box.count(), 4);

        box.setItemIndex(1);
        box.setKind(DropDownBox::Kind::PickOnly);
        QCOMPARE(box.kind(), DropDownBox::Kind::PickOnly);
        QCOMPARE(box.text(), QStringLiteral("10"));
    }
    // Text that is no item does not survive the switch to pick-only.
    box.setKind(DropDownBox::Kind::DropDown);
    box.setText(QStringLiteral("abc"));
    box.setKind(DropDownBox::Kind::PickOnly);
    QCOMPARE(box.itemIndex(), -1);
    QCOMPARE(box.text(), QString());
    QCOMPARE(changes.count(), 2);
}

void TestMonitorUnits::simpleComboStepsItemsWithArrowKeys() {
    SimpleComboBox box;
    box.addItems({QStringLiteral("[l/h]"), QStringLiteral("[m3/h]"), QStringLiteral("[l/min]")});
    box.setText(QStringLiteral("[m3/h]"));
    QSignalSpy changes(&box, &SimpleComboBox::userChanged);
    QCOMPARE(box.itemIndex(), 1);
    QCOMPARE(box.count(), 3);

    QTest::keyClick(&box, Qt::Key_Down);
    QCOMPARE(box.text(), QStringLiteral("[l/min]"));
    QCOMPARE(box.itemIndex(), 2);
    QCOMPARE(changes.count(), 1);
    QTest::keyClick(&box, Qt::Key_Down); // already the last item
    QCOMPARE(box.itemIndex(), 2);
    QCOMPARE(changes.count(), 1);
    QTest::keyClick(&box, Qt::Key_Up);
    QTest::keyClick(&box, Qt::Key_Up);
    QCOMPARE(box.text(), QStringLiteral("[l/h]"));
    QCOMPARE(changes.count(), 3);
    QTest::keyClick(&box, Qt::Key_Up);
    QCOMPARE(changes.count(), 3);

    // Typed text is no item; the next arrow starts from the first item.
    box.clear();
    QTest::keyClicks(&box, QStringLiteral("xy"));
    QCOMPARE(box.itemIndex(), -1);
    QCOMPARE(changes.count(), 5);
    QTest::keyClick(&box, Qt::Key_Down);
    QCOMPARE(box.text(), QStringLiteral("[l/h]"));
    QCOMPARE(changes.count(), 6);

    // The program's selections are silent.
    box.setItemIndex(2);
    QCOMPARE(box.text(), QStringLiteral("[l/min]"));
    box.setItemIndex(-1);
    QCOMPARE(box.text(), QString());
    QCOMPARE(changes.count(), 6);
}

// A period's row as the window's table and the PDF show it.
void TestMonitorUnits::reportRows_data() {
    using core::PeriodKind;
    QTest::addColumn<core::PeriodConsumption>("period");
    QTest::addColumn<PeriodKind>("by");
    QTest::addColumn<QString>("row");
    const core::WallSeconds mar1 = core::WallFromCivil(2024, 3, 1, 0, 0, 0), day = 86400;
    core::PeriodConsumption p;
    p.Start = mar1;
    p.End = mar1 + day;
    p.Forward = 12.5;
    p.Reverse = 0.25;
    p.Net = 12.25;
    p.Flow = core::FlowStats{0.1, 0.52, 2.0};
    QTest::newRow("day") << p << PeriodKind::Day << "2024-03-01|12,500|0,250|12,250|0,100|0,520|2,000|";
    p.Resets = 1;
    p.Reordered = 2;
    p.Events[0].Count = 3;
    QTest::newRow("marks") << p << PeriodKind::Day
                           << "2024-03-01|12,500|0,250|12,250|0,100|0,520|2,000|zerowanie licznika: 1, "
                              "zapisy powtórzone: 2, " +
                                  QString::fromUtf8(core::EventText(0)) + ": 3";
    core::PeriodConsumption gap;
    gap.Start = mar1;
    gap.End = mar1 + 3 * day; // merged: its first and its last day
    gap.Gap = true;
    QTest::newRow("gap of three days") << gap << PeriodKind::Day << "2024-03-01 – 2024-03-03|||||||luka";
    gap.End = mar1 + 3600;
    QTest::newRow("gap of an hour") << gap << PeriodKind::Hour << "2024-03-01 00:00|||||||luka";
}

void TestMonitorUnits::reportRows() {
    QFETCH(core::PeriodConsumption, period);
    QFETCH(core::PeriodKind, by);
    QFETCH(QString, row);
    QCOMPARE(ReportRow(period, by).join(u'|'), row);
}

namespace {
// A page that keeps the texts drawn on it, as the PDF writer gets them.
class TextPage : public QPaintDevice {
public:
    QStringList Texts;
    QPaintEngine* paintEngine() const override { return &Engine; }

protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
        case PdmWidth:
            return 2480; // A4 at 300 dpi, as the PDF's
        case PdmHeight:
            return 3508;
        case PdmWidthMM:
            return 210;
        case PdmHeightMM:
            return 297;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 300;
        case PdmDepth:
            return 32;
        case PdmNumColors:
            return std::numeric_limits<int>::max();
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        default:
            return 1;
        }
    }

private:
    struct Recorder : QPaintEngine {
        QStringList& Texts;
        explicit Recorder(QStringList& texts) : Texts(texts) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawPath(const QPainterPath&) override {}
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
        void drawTextItem(const QPointF&, const QTextItem& item) override { Texts.append(item.text()); }
        Type type() const override { return User; }
    };
    mutable Recorder Engine{Texts};
};
} // namespace

// The PDF's table: a month's volumes of a large meter, with every mark,
// shows each number and head whole; only the marks may be shortened.
void TestMonitorUnits::reportPdfCutsNoNumber() {
    core::ConsumptionReport report;
    report.By = core::PeriodKind::Day;
    const core::WallSeconds mar1 = core::WallFromCivil(2024, 3, 1, 0, 0, 0);
    for (int d = 0; d < 31; ++d) {
        core::PeriodConsumption p;
        p.Start = mar1 + d * 86400;
        p.End = p.Start + 86400;
        p.Gap = d == 17;
        if (!p.Gap) {
            p.Forward = 1234567.891 + d;
            p.Reverse = 98765.432;
            p.Net = *p.Forward - *p.Reverse;
            p.Flow = core::FlowStats{-12345.678, 51440.329, 99999.999};
        }
        p.Resets = d == 3;
        p.Reordered = d == 3 ? 2 : 0;
        for (auto& event : p.Events) event.Count = d == 3 ? 7 : 0;
        report.Periods.push_back(p);
    }
    TextPage page;
    int pages = 1;
    {
        QPainter painter(&page);
        const monitor::ReportPdfHeader header{"1", "2.15", "500", "VQT540_nr  1_1.csv", QDateTime()};
        monitor::DrawReportPages(
            painter, QRectF(0, 0, 2480, 3508), [&pages] { ++pages; }, report, header);
    }
    QCOMPARE(pages, 1);
    QStringList expected = ReportHeads();
    for (const core::PeriodConsumption& p : report.Periods) expected += ReportRow(p, report.By).mid(0, 7);
    expected.removeAll(QString());
    // A text may come in pieces, a piece for each font that has its glyphs
    // (on Windows "³" falls back to another face): the pieces in drawing order.
    const QString drawn = page.Texts.join(QString());
    for (const QString& text : expected) QVERIFY2(drawn.contains(text), qPrintable(text));
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    TestMonitorUnits test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitor_units.moc"

// A message that names a file breaks its path, where a line is too narrow,
// only after a separator: not at the blanks of "VQT540_nr  1", nor after a
// hyphen; and it reads as the path.
void TestMonitorUnits::pathBreaksOnlyAfterSeparators_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("pieces"); // between the places where it may break
    QTest::newRow("Linux") << "/tmp/VQT5400-DTrXac/VQT540_nr  1_1.csv"
                           << QStringList{"/", "tmp/", "VQT5400-DTrXac/", "VQT540_nr  1_1.csv"};
    QTest::newRow("Windows") << "C:\\Dane pomiarowe\\Hala-2\\VQT540_nr  1_1.csv"
                             << QStringList{"C:\\", "Dane pomiarowe\\", "Hala-2\\", "VQT540_nr  1_1.csv"};
    QTest::newRow("no separator") << "a b-c.csv" << QStringList{"a b-c.csv"};
}

void TestMonitorUnits::pathBreaksOnlyAfterSeparators() {
    QFETCH(QString, path);
    QFETCH(QStringList, pieces);
    const QString shown = UnbrokenPath(path);
    // As read: the joiners and break marks are invisible, the blanks do not break.
    const auto read = [](QString text) {
        return text.remove(QChar(0x2060)).remove(QChar(0x200B)).replace(QChar(0x00A0), u' ');
    };
    QCOMPARE(read(shown), path);
    QStringList found;
    QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, shown);
    qsizetype from = 0;
    while (breaks.toNextBoundary() > 0) {
        found << read(shown.mid(from, breaks.position() - from));
        from = breaks.position();
    }
    QCOMPARE(found.join(u'|'), pieces.join(u'|'));
}
