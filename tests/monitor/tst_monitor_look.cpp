// The device page's look: whole row names in the smallest window, names that
// stay beside their values in a wide one, lists in their colour; Qt's own
// texts in Polish.
#include "app/Application.h"
#include "monitor/Unit1.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <utility>
#include <vector>

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

private:
    QTemporaryDir Dir; // no settings file: the defaults are shown
    std::unique_ptr<TForm1> Form;
};

void TestMonitorLook::init() {
    QVERIFY(QDir::setCurrent(Dir.path()));
    Form = std::make_unique<TForm1>();
    Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
    QCOMPARE(Form->size(), QSize(698, 530));
    QCOMPARE(Form->PageControl1->currentWidget(), Form->TabSheet3);
}

void TestMonitorLook::wholeTextsInTheSmallestWindow() {
    const QRect page = Form->TabSheet3->rect();
    for (QLabel* label : Form->TabSheet3->findChildren<QLabel*>()) {
        QVERIFY2(!label->wordWrap(), qPrintable(label->objectName()));
        QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->objectName()));
    }
    for (QPushButton* button : Form->TabSheet3->findChildren<QPushButton*>()) {
        QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->objectName()));
        const QRect shown(button->mapTo(Form->TabSheet3, QPoint(0, 0)), button->size());
        QVERIFY2(page.contains(shown), qPrintable(button->objectName()));
    }
}

void TestMonitorLook::rowNamesStayBesideTheirValues() {
    TForm1& f = *Form;
    const std::vector<std::pair<QLabel*, QWidget*>> rows{
        {f.Label3, f.Edit1},      {f.Label4, f.Edit2},       {f.Label5, f.ComboBox2},
        {f.Label6, f.Edit3},      {f.Label19, f.ComboBox10}, {f.Label7, f.Edit4},
        {f.Label8, f.Edit5},      {f.Label12, f.Edit8},      {f.Label13, f.ComboBox9},
        {f.Label14, f.MaskEdit2}, {f.Label16, f.MaskEdit3},  {f.Label17, f.ComboBox8},
        {f.Label9, f.MaskEdit4},  {f.Label11, f.MaskEdit5}};
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
    QTRY_VERIFY(f.Bevel1->width() > 800);
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

int main(int argc, char** argv) {
    Application app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    TestMonitorLook test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitor_look.moc"
