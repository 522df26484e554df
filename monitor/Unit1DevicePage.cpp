// TForm1: the device page "Parametry VQT540", its rows built from a table.
#include "monitor/Unit1.h"

#include "monitor/Naming.h"
#include "monitor/PageLook.h"

#include "core/Editing.h"
#include "model/DevicePage.h"
#include "model/Tables.h"

#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <vector>

using namespace monitor;

namespace {

// The window's own first lists of the range and the time constant, as it
// is defined before any read: they differ from the meter's tables ("0.5"
// with a point, "0,012 " with a blank), and the first read replaces the
// range list anyway.
const QStringList kInitialRanges{"0,240", "0,200", "0,150", "0,120", "0,100", "0,080",
                                 "0,060", "0,040", "0,030", "0,020", "0,015", "0,012 "};
const QStringList kInitialTimeConstants{"0.5", "1.0", "1.5",  "2,0",  "2,5",  "3,0",  "3,5", "4,0",
                                        "4,5", "5,0", "10,0", "15,0", "20,0", "25,0", "30,0"};

// Names, values and units keep their width, whatever the window's.
constexpr int kValueWidth = 76;
constexpr int kUnitWidth = 64;

} // namespace

// The controls of one row of the page: its name, the value control, the unit
// beside it and a button under it.
struct TForm1::DeviceRow {
    std::string_view name;
    QLabel** label;
    const char* labelName;
    QWidget* value;
    QWidget* unit = nullptr;
    QWidget* below = nullptr;
};

namespace {

// Each control is made, named after its member and coloured in one step.
QLineEdit* valueField(QLineEdit*& member, const char* name, const char* initial, bool readOnly,
                      QWidget* parent) {
    member = field(QString::fromUtf8(initial), readOnly, parent);
    member->setObjectName(QString::fromUtf8(name));
    colorField(member, kSkyBlue);
    return member;
}

DropDownBox* list(DropDownBox*& member, const char* name, DropDownBox::Kind kind, const QStringList& entries,
                  const QColor& color, QWidget* parent, const char* shown = nullptr) {
    member = new DropDownBox(kind, parent);
    member->setObjectName(QString::fromUtf8(name));
    member->addItems(entries);
    member->setItemIndex(-1);
    if (shown) member->setText(QString::fromUtf8(shown));
    colorField(member, color);
    return member;
}

SimpleComboBox* simple(SimpleComboBox*& member, const char* name, const QStringList& entries,
                       const char* shown, QWidget* parent) {
    member = new SimpleComboBox(parent);
    member->setObjectName(QString::fromUtf8(name));
    member->addItems(entries);
    member->setText(QString::fromUtf8(shown));
    colorField(member, kAqua);
    return member;
}

QPushButton* reset(QPushButton*& member, const char* name, QWidget* parent) {
    member = new QPushButton(QStringLiteral("Zeruj licznik"), parent);
    member->setObjectName(QString::fromUtf8(name));
    return member;
}

} // namespace

// The controls that show a row of the page's table.
TForm1::DeviceRow TForm1::makeDeviceRow(model::DeviceField field) {
    using Kind = DropDownBox::Kind;
    using F = model::DeviceField;
    QWidget* const in = Bevel1;
    const QStringList flowUnits = items(model::FlowUnitTexts);
    const QStringList volumeUnits = items(model::TotaliserUnitTexts);
    switch (field) {
    case F::Version:
        return {{}, &Label3, "Label3", valueField(Edit1, "Edit1", "123456", true, in)};
    case F::Diameter:
        return {{}, &Label4, "Label4", valueField(Edit2, "Edit2", "3", true, in)};
    case F::Range:
        return {{},
                &Label5,
                "Label5",
                list(ComboBox2, "ComboBox2", Kind::DropDown, kInitialRanges, kSkyBlue, in)};
    case F::Flow:
        return {{},
                &Label6,
                "Label6",
                valueField(Edit3, "Edit3", "0,0", true, in),
                list(ComboBox3, "ComboBox3", Kind::DropDown, flowUnits, kAqua, in, "[m3/h]")};
    case F::PulseWeight:
        return {{},
                &Label19,
                "Label19",
                list(ComboBox10, "ComboBox10", Kind::DropDown, items(model::PulseWeightTexts), kSkyBlue, in),
                simple(ComboBox11, "ComboBox11", volumeUnits, "[m3]", in)};
    case F::ForwardTotaliser:
        return {{},
                &Label7,
                "Label7",
                valueField(Edit4, "Edit4", "0,0", true, in),
                list(ComboBox4, "ComboBox4", Kind::DropDown, volumeUnits, kAqua, in, "[m3]"),
                reset(Button1, "Button1", in)};
    case F::ReverseTotaliser:
        return {{},
                &Label8,
                "Label8",
                valueField(Edit5, "Edit5", "0,0", true, in),
                list(ComboBox5, "ComboBox5", Kind::DropDown, volumeUnits, kAqua, in, "[m3]"),
                reset(Button2, "Button2", in)};
    case F::Cutoff:
        return {{}, &Label12, "Label12", valueField(Edit8, "Edit8", "0,0", false, in)};
    case F::TimeConstant:
        return {{},
                &Label13,
                "Label13",
                list(ComboBox9, "ComboBox9", Kind::DropDown, kInitialTimeConstants, kSkyBlue, in)};
    case F::KorK:
        return {{}, &Label14, "Label14", valueField(MaskEdit2, "MaskEdit2", "0,0", true, in)};
    case F::KorC:
        return {{}, &Label16, "Label16", valueField(MaskEdit3, "MaskEdit3", "0,0", true, in)};
    case F::ArchivePeriod:
        return {{},
                &Label17,
                "Label17",
                list(ComboBox8, "ComboBox8", Kind::PickOnly, items(model::ArchivePeriodTexts), kSkyBlue, in)};
    case F::Alarm1:
        return {{},
                &Label9,
                "Label9",
                valueField(MaskEdit4, "MaskEdit4", "0,0", false, in),
                simple(ComboBox6, "ComboBox6", flowUnits, "[m3/h]", in)};
    case F::Alarm2:
        return {{},
                &Label11,
                "Label11",
                valueField(MaskEdit5, "MaskEdit5", "0,0", false, in),
                simple(ComboBox7, "ComboBox7", flowUnits, "[m3/h]", in)};
    }
    throw std::logic_error("a row of the device page without controls");
}

void TForm1::buildDevicePage() {
    Bevel1 = new QFrame(TabSheet3);
    VQT_NAME(Bevel1);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel1->setLineWidth(1);

    // The rows, their order and names are the page's table, which the tool
    // prints too.
    std::vector<DeviceRow> rows;
    for (const model::DeviceRow& row : model::kDeviceRows) {
        rows.push_back(makeDeviceRow(row.Field));
        rows.back().name = row.Label;
    }
    ComboBox11->setEnabled(false); // shows the totaliser unit only
    // What only the meter sets is no stop for Tab; a click still selects
    // its text for copying.
    for (QLineEdit* shown : {Edit1, Edit2, Edit3, Edit4, Edit5, MaskEdit2, MaskEdit3})
        shown->setFocusPolicy(Qt::ClickFocus);
    styleResetButton(Button1);

    placeDeviceRows(rows);
    buildDevicePageSide();
    showValuesCurrent(false); // the window's first texts are no meter's
}

// Names, values and units in their columns, a button under its counter.
void TForm1::placeDeviceRows(std::span<const DeviceRow> rows) {
    auto* grid = new QGridLayout(Bevel1);
    grid->setContentsMargins(8, 8, 6, 8);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    for (const DeviceRow& row : rows) {
        const int r = grid->rowCount();
        *row.label = new QLabel(text(row.name), Bevel1);
        (*row.label)->setObjectName(QString::fromUtf8(row.labelName));
        grid->addWidget(*row.label, r, 0);
        if (row.value == ComboBox8) {
            grid->addWidget(row.value, r, 1, 1, 2, Qt::AlignLeft); // no unit: the longer items get room
        } else {
            row.value->setFixedWidth(kValueWidth);
            grid->addWidget(row.value, r, 1);
        }
        if (row.unit) {
            row.unit->setFixedWidth(kUnitWidth);
            grid->addWidget(row.unit, r, 2);
        }
        // Under its counter: beside it, the longest names would not fit into
        // the smallest window.
        if (row.below) grid->addWidget(row.below, r + 1, 1, 1, 2, Qt::AlignLeft);
    }
    // A wider window widens the empty last column: each name stays beside
    // its value instead of drifting away to the left.
    grid->setColumnStretch(3, 1);
}

void TForm1::styleResetButton(QPushButton* button) {
    setBold(button);
    // The yellow caption needs a dark face to be readable; disabled, the
    // button looks like its disabled neighbour.
    QPalette palette = button->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::ButtonText, kYellow);
        palette.setColor(group, QPalette::Button, kNavy);
    }
    button->setPalette(palette);
}

// The alarms and the two big buttons beside the rows.
void TForm1::buildDevicePageSide() {
    GroupBox3 = new QGroupBox(text(model::label::Alarms), TabSheet3);
    VQT_NAME(GroupBox3);
    setBold(GroupBox3, true);
    setColor(GroupBox3, QPalette::WindowText, kRed);
    ListBox1 = new QListWidget(GroupBox3);
    VQT_NAME(ListBox1);
    ListBox1->setFocusPolicy(Qt::ClickFocus); // an empty list is a stop nobody sees
    setBold(ListBox1);
    setColor(ListBox1, QPalette::Text, kRed);
    auto* alarms = new QVBoxLayout(GroupBox3);
    alarms->setContentsMargins(6, 6, 6, 6);
    alarms->addWidget(ListBox1);

    Panel1 = new QFrame(TabSheet3);
    VQT_NAME(Panel1);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    fill(Panel1, kSkyBlue);
    Button4 = new QPushButton(QStringLiteral("Połącz z przepływomierzem"), Panel1);
    VQT_NAME(Button4);
    Button5 = new QPushButton(QStringLiteral("Zapisz dane z archiwum do pliku"), Panel1);
    VQT_NAME(Button5);
    // The captions alternate with longer ones; the panel is as wide as the
    // longest so that neither is ever cut.
    const QFontMetrics metrics(Button4->font());
    int captionWidth = 0;
    for (const QString& caption : {QStringLiteral("Połącz z przepływomierzem"),
                                   QStringLiteral("Zakończ połączenie z przepływomierzem"),
                                   QStringLiteral("Zapisz dane z archiwum do pliku"),
                                   QStringLiteral("Zakończ zapis danych z archiwum")})
        captionWidth = std::max(captionWidth, metrics.horizontalAdvance(caption));
    for (QPushButton* button : {Button4, Button5}) {
        button->setMinimumHeight(34);
        button->setMinimumWidth(captionWidth + 12);
    }
    auto* buttons = new QVBoxLayout(Panel1);
    buttons->setContentsMargins(6, 8, 6, 8);
    buttons->setSpacing(8);
    buttons->addWidget(Button4);
    buttons->addWidget(Button5);
    buildSettingsButtons(buttons);

    auto* rightColumn = new QWidget(TabSheet3);
    auto* right = new QVBoxLayout(rightColumn);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(8);
    right->addWidget(GroupBox3, 1);
    right->addWidget(Panel1);
    // As narrow as its captions allow: the parameter rows get the rest.
    rightColumn->setFixedWidth(rightColumn->minimumSizeHint().width());

    auto* page = new QHBoxLayout(TabSheet3);
    page->setContentsMargins(4, 6, 4, 6);
    page->setSpacing(8);
    page->addWidget(Bevel1, 1);
    page->addWidget(rightColumn);
}

void TForm1::showValuesCurrent(bool current) {
    // Not current: the last read's values (or the window's first texts)
    // stay, paler, so that nobody takes them for the meter's present ones.
    QString tip;
    if (!current)
        tip = Notes.LastGoodRead.empty()
                  ? QStringLiteral("Brak odczytu z przepływomierza: to nie są jego wartości.")
                  : QStringLiteral("Wartość nieaktualna, z odczytu o %1.")
                        .arg(QString::fromStdString(Notes.LastGoodRead));
    for (QLineEdit* value : {Edit1, Edit2, Edit3, Edit4, Edit5, MaskEdit2, MaskEdit3}) {
        setColor(value, QPalette::Text, current ? QColor(Qt::black) : kStaleText);
        value->setToolTip(tip);
    }
    setColor(ListBox1, QPalette::Text, current ? kRed : kStaleAlarm);
    ListBox1->setToolTip(tip);
}

void TForm1::showInitialValues() {
    // The texts the window is defined with, and the first item of each list,
    // as FormShow leaves them: set from the program, no change event.
    for (QLineEdit* zero : {Edit3, Edit4, Edit5, Edit8, MaskEdit2, MaskEdit3, MaskEdit4, MaskEdit5})
        zero->setText(QStringLiteral("0,0"));
    Edit1->setText(QStringLiteral("123456"));
    Edit2->setText(QStringLiteral("3"));
    ComboBox2->clear();
    ComboBox2->addItems(kInitialRanges);
    for (DropDownBox* box : {ComboBox2, ComboBox9, ComboBox8, ComboBox3, ComboBox4, ComboBox5, ComboBox10})
        box->setItemIndex(0);
    for (SimpleComboBox* box : {ComboBox6, ComboBox7, ComboBox11}) box->setItemIndex(0);
    ListBox1->clear();
    // The chart drew the other meter's flow: it starts anew.
    Flows.Break();
    Flows.Trim(std::numeric_limits<int64_t>::max());
    Notes.LastGoodRead.clear();
    showValuesCurrent(false);
    showDetails();
}

QList<QWidget*> TForm1::controlsWriting(uint8_t reg) const {
    switch (reg) {
    case core::reg::Flags:
        return {ComboBox3, ComboBox4, ComboBox5, ComboBox6, ComboBox7, ComboBox10};
    case core::reg::Cutoff:
        return {Edit8};
    case core::reg::TimeConstant:
        return {ComboBox9};
    case core::reg::Range:
        return {ComboBox2};
    case core::reg::Alarm1:
        return {MaskEdit4};
    case core::reg::Alarm2:
        return {MaskEdit5};
    case core::reg::ArchivePeriod:
        return {ComboBox8};
    default:
        return {}; // a totaliser reset shows in no control of its own
    }
}
