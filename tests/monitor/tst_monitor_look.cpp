// The device page's look: whole row names in the smallest window, names that
// stay beside their values in a wide one, lists in their colour; Qt's own
// texts in Polish. The chart's: its axes in each unit, gaps and a lone read
// in pixels, the redrawing while shown.
#include "WindowFixture.h"
#include "app/Application.h"
#include "modbus/Link.h"
#include "monitor/Dialogs.h"
#include "monitor/FlowChart.h"
#include "monitor/Unit1.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <utility>
#include <vector>

namespace {
int64_t Now() {
    return QDateTime::currentMSecsSinceEpoch();
}
// Blue well above its red and green in a column of the plot: the curve, not
// the grey grid or the labels.
bool ColumnHasCurve(const QImage& image, const QRectF& plot, qreal x) {
    for (int y = int(plot.top()) - 4; y <= int(plot.bottom()) + 4; ++y) {
        const QRgb p = image.pixel(int(x), y);
        if (qBlue(p) - std::max(qRed(p), qGreen(p)) > 60) return true;
    }
    return false;
}
} // namespace

class TestMonitorLook : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup() { Form.reset(); }

    void wholeTextsInTheSmallestWindow();
    void rowNamesStayBesideTheirValues();
    void listsShowTheirColourInBothKinds_data();
    void listsShowTheirColourInBothKinds();
    void qtStandardTextsArePolish();
    void chartAxesInEachUnit();
    void chartGapsAndALoneReadInThePicture();
    void chartRedrawnEverySecondWhileShown();

private:
    QTemporaryDir Dir;        // no settings file: the defaults are shown
    modbus::Link meters;      // outlives the window
    monitor::Dialogs dialogs; // the window's real boxes; outlives it too
    std::unique_ptr<TForm1> Form;
    Form1Controls ui;
};

void TestMonitorLook::init() {
    QVERIFY(QDir::setCurrent(Dir.path()));
    Form = std::make_unique<TForm1>(meters, dialogs);
    ui = Form1Controls(*Form);
    Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
    QCOMPARE(Form->size(), QSize(698, 530));
    QCOMPARE(ui.PageControl1->currentWidget(), ui.TabSheet3);
}

void TestMonitorLook::wholeTextsInTheSmallestWindow() {
    const QRect page = ui.TabSheet3->rect();
    for (QLabel* label : ui.TabSheet3->findChildren<QLabel*>()) {
        QVERIFY2(!label->wordWrap(), qPrintable(label->objectName()));
        QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->objectName()));
    }
    for (QPushButton* button : ui.TabSheet3->findChildren<QPushButton*>()) {
        QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->objectName()));
        const QRect shown(button->mapTo(ui.TabSheet3, QPoint(0, 0)), button->size());
        QVERIFY2(page.contains(shown), qPrintable(button->objectName()));
    }
}

void TestMonitorLook::rowNamesStayBesideTheirValues() {
    TForm1& f = *Form;
    const std::vector<std::pair<QLabel*, QWidget*>> rows{
        {ui.Label3, ui.Edit1},      {ui.Label4, ui.Edit2},       {ui.Label5, ui.ComboBox2},
        {ui.Label6, ui.Edit3},      {ui.Label19, ui.ComboBox10}, {ui.Label7, ui.Edit4},
        {ui.Label8, ui.Edit5},      {ui.Label12, ui.Edit8},      {ui.Label13, ui.ComboBox9},
        {ui.Label14, ui.MaskEdit2}, {ui.Label16, ui.MaskEdit3},  {ui.Label17, ui.ComboBox8},
        {ui.Label9, ui.MaskEdit4},  {ui.Label11, ui.MaskEdit5}};
    // From the end of the (left-aligned) name to the value's left edge.
    const auto gaps = [&rows, &f] {
        std::vector<int> result;
        for (const auto& [label, value] : rows)
            result.push_back(value->mapTo(&f, QPoint(0, 0)).x() - label->mapTo(&f, QPoint(0, 0)).x() -
                             label->sizeHint().width());
        return result;
    };
    const std::vector<int> small = gaps();
    f.resize(1200, 800);
    QTRY_VERIFY(ui.Bevel1->width() > 800);
    QApplication::processEvents();
    const std::vector<int> wide = gaps();
    for (size_t i = 0; i < rows.size(); ++i) {
        QVERIFY2(small[i] >= 0, qPrintable(rows[i].first->objectName()));
        QCOMPARE(wide[i], small[i]);
    }
}

void TestMonitorLook::listsShowTheirColourInBothKinds_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("color");
    for (const char* name : {"ComboBox8", "ComboBox2", "ComboBox9", "ComboBox10"})
        QTest::newRow(name) << QString::fromLatin1(name) << QColor(0xA6, 0xCA, 0xF0); // sky blue
    for (const char* name : {"ComboBox3", "ComboBox4", "ComboBox5"})
        QTest::newRow(name) << QString::fromLatin1(name) << QColor(0x00, 0xFF, 0xFF); // aqua
}

void TestMonitorLook::listsShowTheirColourInBothKinds() {
    QFETCH(QString, name);
    QFETCH(QColor, color);
    auto* box = Form->findChild<TForm1::DropDownBox*>(name);
    QVERIFY(box);
    for (const auto kind : {TForm1::DropDownBox::Kind::PickOnly, TForm1::DropDownBox::Kind::DropDown,
                            TForm1::DropDownBox::Kind::PickOnly}) {
        box->setKind(kind);
        QApplication::processEvents();
        // Most of the text part is the colour: text and frame are the rest.
        QStyleOptionComboBox option;
        option.initFrom(box);
        option.editable = box->isEditable();
        const QRect text =
            box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box);
        const QImage image = box->grab().toImage();
        int matching = 0;
        for (int y = text.top(); y <= text.bottom(); ++y)
            for (int x = text.left(); x <= text.right(); ++x) matching += QColor(image.pixel(x, y)) == color;
        const int area = text.width() * text.height();
        QVERIFY2(area > 100 && matching * 2 > area,
                 qPrintable(
                     QStringLiteral("editable %1: %2 of %3").arg(box->isEditable()).arg(matching).arg(area)));
    }
}

void TestMonitorLook::qtStandardTextsArePolish() {
    const std::pair<QDialogButtonBox::StandardButton, QString> texts[] = {
        {QDialogButtonBox::Cancel, QStringLiteral("Anuluj")},
        {QDialogButtonBox::Yes, QStringLiteral("&Tak")},
        {QDialogButtonBox::No, QStringLiteral("&Nie")}};
    for (const auto& [button, text] : texts) {
        QDialogButtonBox box(button);
        QCOMPARE(box.button(button)->text(), text);
    }
}

void TestMonitorLook::chartAxesInEachUnit() {
    ui.PageControl1->setCurrentWidget(ui.TabSheet4);
    const monitor::FlowChart& chart = *ui.Chart1;
    core::FlowHistory& flows = WindowFixture::flows(*Form);
    const struct {
        uint8_t unit;
        std::vector<double> cubicMetresPerHour;
        const char *title, *labels;
    } rows[] = {
        {1, {1.2, 0.4}, "Przepływ chwilowy [m3/h]", "0,0 0,5 1,0 1,5"},
        {0, {12.8, 3}, "Przepływ chwilowy [l/h]", "0 5000 10000 15000"}, // no group separators
        {2, {0.5}, "Przepływ chwilowy [l/min]", "0 2 4 6 8 10"},
        {1, {-0.5, 0.5}, "Przepływ chwilowy [m3/h]", "-0,6 -0,4 -0,2 0,0 0,2 0,4 0,6"},
        {1, {0.003}, "Przepływ chwilowy [m3/h]", "0,000 0,001 0,002 0,003"},
    };
    for (const auto& r : rows) {
        flows.Trim(Now() + flows.Span() + 1); // none of the row before
        flows.SetUnit(r.unit);
        for (double value : r.cubicMetresPerHour) flows.Add(Now(), value);
        ui.Chart1->refresh();
        QCOMPARE(chart.valueAxis().Title, QString::fromUtf8(r.title));
        QCOMPARE(chart.valueAxis().Labels.join(' '), QString::fromLatin1(r.labels));
        for (const QString& label : chart.valueAxis().Labels) // room left of the plot
            QVERIFY(QFontMetricsF(chart.font()).horizontalAdvance(label) < chart.plotArea().left());
    }
    // From the whole minute before ten minutes ago (if it did not turn meanwhile), in local time.
    const monitor::FlowChart::Axis& time = chart.timeAxis();
    QCOMPARE(time.Title, QStringLiteral("Czas"));
    QCOMPARE(time.Labels.size(), 12);
    const QTime first = QTime::fromString(time.Labels.front(), u"HH:mm");
    QVERIFY((first.secsTo(QTime::currentTime().addSecs(-600)) + 86400) % 86400 < 61); // midnight too
    QCOMPARE(time.Labels.back(), first.addSecs(11 * 60).toString(u"HH:mm"));
    const qreal half = QFontMetricsF(chart.font()).horizontalAdvance(time.Labels.back()) / 2;
    QVERIFY(chart.position(time.Scale.High, 0).x() + half <= chart.width()); // not cut off
}

void TestMonitorLook::chartGapsAndALoneReadInThePicture() {
    const int64_t now = Now();
    for (int s = 400; s >= 300; s -= 10) WindowFixture::flows(*Form).Add(now - s * 1000, 0.6);
    WindowFixture::flows(*Form).Break();
    WindowFixture::flows(*Form).Add(now - 240 * 1000, 0.8); // alone between two failed reads
    WindowFixture::flows(*Form).Break();
    for (int s = 180; s >= 60; s -= 10) WindowFixture::flows(*Form).Add(now - s * 1000, 0.4 + s * 0.001);
    ui.PageControl1->setCurrentWidget(ui.TabSheet4);
    const monitor::FlowChart& chart = *ui.Chart1;
    const QList<QPolygonF> drawn = chart.drawnLines();
    QCOMPARE(drawn.size(), 3);
    const QRectF plot = chart.plotArea();
    const QImage image = ui.Chart1->grab().toImage();
    QCOMPARE(image.size(), chart.size()); // widget coordinates are pixels
    const qreal endA = drawn[0].back().x(), lone = drawn[1].front().x(), startB = drawn[2].front().x();
    QVERIFY(plot.contains(drawn[0].front()) && plot.contains(drawn[2].back()));
    QVERIFY(ColumnHasCurve(image, plot, endA - 4) && ColumnHasCurve(image, plot, startB + 4));
    QVERIFY(ColumnHasCurve(image, plot, lone) && ColumnHasCurve(image, plot, lone + 2));
    // Nothing across either gap but the dot of the lone read.
    for (qreal x = endA + 4; x < startB - 4; ++x)
        if (std::fabs(x - lone) > 6)
            QVERIFY2(!ColumnHasCurve(image, plot, x), qPrintable(QString::number(x)));
}

void TestMonitorLook::chartRedrawnEverySecondWhileShown() {
    auto* tick = Form->findChild<QTimer*>(QStringLiteral("Chart1Tick"));
    QVERIFY(tick && !tick->isActive());
    WindowFixture::flows(*Form).Add(Now() - 5000, 1.0);
    ui.PageControl1->setCurrentWidget(ui.TabSheet4);
    QVERIFY(tick->isActive());
    WindowFixture::flows(*Form).Add(Now(), 2.0);
    QTRY_COMPARE_WITH_TIMEOUT(ui.Chart1->lines().value(0).size(), 2, 2500); // no refresh() called
    ui.PageControl1->setCurrentWidget(ui.TabSheet3);
    QVERIFY(!tick->isActive());
    WindowFixture::flows(*Form).Add(Now(), 3.0);
    QTest::qWait(1300);
    QCOMPARE(ui.Chart1->lines().value(0).size(), 2); // nothing drawn while hidden
    ui.PageControl1->setCurrentWidget(ui.TabSheet4);
    QCOMPARE(ui.Chart1->lines().value(0).size(), 3); // as soon as it is shown again
}

int main(int argc, char** argv) {
    monitor::Dialogs dialogs;
    Application app(argc, argv, dialogs);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    TestMonitorLook test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitor_look.moc"
