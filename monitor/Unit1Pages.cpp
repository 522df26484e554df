// TForm1: construction of the four pages and their controls.
#include "monitor/Unit1.h"

#include "monitor/FlowChart.h"
#include "monitor/JpegImage.h"
#include "monitor/Naming.h"

#include "model/ConfigFile.h"
#include "model/DevicePage.h"

#include <QAction>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

const QColor kSkyBlue(0xA6, 0xCA, 0xF0);
const QColor kAqua(0x00, 0xFF, 0xFF);
const QColor kMaroon(0x80, 0x00, 0x00);
const QColor kNavy(0x00, 0x00, 0x80);
const QColor kBlue(0x00, 0x00, 0xFF);
const QColor kRed(0xFF, 0x00, 0x00);
const QColor kYellow(0xFF, 0xFF, 0x00);

void setColor(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

// A filled area (panel, group, header) in one colour.
void fill(QWidget* widget, const QColor& color) {
    widget->setAutoFillBackground(true);
    setColor(widget, QPalette::Window, color);
}

// A disabled control: its colour faded towards grey, so that it plainly
// does nothing, with dark text, so that its value stays readable.
const QColor kDisabledText(0x3A, 0x3A, 0x3A);
QColor faded(const QColor& color) {
    const auto mix = [](int c, int grey) { return (c * 35 + grey * 65) / 100; };
    return QColor(mix(color.red(), 0xE4), mix(color.green(), 0xE4), mix(color.blue(), 0xE4));
}

// Field and list backgrounds: line edits and the text part of lists paint
// Base, the arrow part of lists is shaded from Button.
void colorField(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Base, color);
        palette.setColor(group, QPalette::Button, color);
    }
    palette.setColor(QPalette::Disabled, QPalette::Base, faded(color));
    palette.setColor(QPalette::Disabled, QPalette::Button, faded(color));
    palette.setColor(QPalette::Disabled, QPalette::Text, kDisabledText);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, kDisabledText);
    widget->setPalette(palette);
}

void setBold(QWidget* widget, bool italic = false) {
    QFont font = widget->font();
    font.setBold(true);
    font.setItalic(italic);
    widget->setFont(font);
}

QLabel* header(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setFrameStyle(QFrame::Panel | QFrame::Raised);
    label->setMargin(3);
    return label;
}

QLineEdit* field(const QString& text, bool readOnly, QWidget* parent) {
    auto* edit = new QLineEdit(text, parent);
    edit->setReadOnly(readOnly);
    return edit;
}

} // namespace

void TForm1::buildCommunicationPage() {
    Image1 = new QLabel(TabSheet2);
    VQT_NAME(Image1);
    QFile picture(QStringLiteral(":/monitor/strip.jpg"));
    if (picture.open(QIODevice::ReadOnly)) {
        const QImage image = monitor::DecodeJpeg(picture.readAll());
        if (!image.isNull()) Image1->setPixmap(QPixmap::fromImage(image));
    }
    Image1->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    Image1->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);

    Panel4 = header(QStringLiteral("Program do obsługi przepływomierzy VQT540"), TabSheet2);
    VQT_NAME(Panel4);
    fill(Panel4, kMaroon);
    setColor(Panel4, QPalette::WindowText, Qt::white);
    {
        QFont font = Panel4->font();
        font.setBold(true);
        font.setPointSizeF(font.pointSizeF() * 1.3);
        Panel4->setFont(font);
    }
    Panel4->setMargin(8);

    GroupBox4 = new QGroupBox(QStringLiteral("Parametry komunikacji"), TabSheet2);
    VQT_NAME(GroupBox4);
    fill(GroupBox4, kMaroon);
    setColor(GroupBox4, QPalette::WindowText, Qt::white);
    setBold(GroupBox4);

    Panel2 = header(QStringLiteral("Parametry portu COM"), GroupBox4);
    VQT_NAME(Panel2);
    Panel3 = header(QStringLiteral("Parametry protokołu Modbus"), GroupBox4);
    VQT_NAME(Panel3);
    GroupBox1 = new QGroupBox(GroupBox4);
    VQT_NAME(GroupBox1);
    GroupBox2 = new QGroupBox(GroupBox4);
    VQT_NAME(GroupBox2);
    for (QWidget* widget : {static_cast<QWidget*>(Panel2), static_cast<QWidget*>(Panel3),
                            static_cast<QWidget*>(GroupBox1), static_cast<QWidget*>(GroupBox2)}) {
        fill(widget, kSkyBlue);
        setColor(widget, QPalette::WindowText, Qt::black);
        QFont font = widget->font();
        font.setBold(false); // the maroon group's bold caption stops here
        widget->setFont(font);
    }
    setBold(Panel2);
    setBold(Panel3);

    const auto label = [](const QString& text, QGroupBox* group) {
        auto* result = new QLabel(text, group);
        setColor(result, QPalette::WindowText, kBlue);
        setBold(result);
        return result;
    };
    const auto pickOnly = [](const QStringList& items, QGroupBox* group) {
        auto* box = new DropDownBox(DropDownBox::Kind::PickOnly, group);
        box->addItems(items);
        box->setCurrentIndex(-1); // no selection until the settings are loaded
        colorField(box, Qt::white);
        return box;
    };

    StaticText1 = label(QStringLiteral("Numer portu"), GroupBox1);
    VQT_NAME(StaticText1);
    QStringList ports;
    for (int i = 1; i <= model::kPortCount; ++i) ports << QStringLiteral("COM%1").arg(i);
    PortNr = pickOnly(ports, GroupBox1);
    VQT_NAME(PortNr);
    StaticText2 = label(QStringLiteral("Prędkość transmisji"), GroupBox1);
    VQT_NAME(StaticText2);
    QStringList speeds;
    for (const uint32_t speed : model::kSpeeds) speeds << QString::number(speed);
    Speed = pickOnly(speeds, GroupBox1);
    VQT_NAME(Speed);
    Label1 = label(QStringLiteral("Kontola parzystości"), GroupBox1);
    VQT_NAME(Label1);
    const auto texts = [](const auto& table) {
        QStringList items;
        for (const std::string_view item : table) items << text(item);
        return items;
    };
    Parity = pickOnly(texts(model::kParityTexts), GroupBox1);
    VQT_NAME(Parity);
    Label2 = label(QStringLiteral("Bity stopu"), GroupBox1);
    VQT_NAME(Label2);
    StopBits = pickOnly(texts(model::kStopBitsTexts), GroupBox1);
    VQT_NAME(StopBits);

    StaticText3 = label(QStringLiteral("Tryb transmisji"), GroupBox2);
    VQT_NAME(StaticText3);
    ComboBox1 = pickOnly({QStringLiteral("MODBUS RTU")}, GroupBox2);
    VQT_NAME(ComboBox1);
    Label18 = label(QStringLiteral("Adres przepływomierza"), GroupBox2);
    VQT_NAME(Label18);
    MaskEdit6 = field(QStringLiteral("  1"), false, GroupBox2);
    VQT_NAME(MaskEdit6);
    StaticText4 = label(QStringLiteral("Okres skanowania [ms]"), GroupBox2);
    VQT_NAME(StaticText4);
    Period = field(QStringLiteral("1000"), false, GroupBox2);
    VQT_NAME(Period);
    StaticText5 = label(QStringLiteral("Timeout odpowiedzi przetwornika [ms]"), GroupBox2);
    VQT_NAME(StaticText5);
    MaskEdit1 = field(QStringLiteral("1000"), false, GroupBox2);
    VQT_NAME(MaskEdit1);

    const auto stack = [](QGroupBox* group, std::initializer_list<QWidget*> widgets) {
        auto* layout = new QVBoxLayout(group);
        layout->setContentsMargins(10, 8, 10, 10);
        layout->setSpacing(2);
        bool isLabel = true;
        for (QWidget* widget : widgets) {
            if (isLabel && widget != *widgets.begin()) layout->addSpacing(14);
            layout->addWidget(widget);
            isLabel = !isLabel;
        }
        layout->addStretch(1);
    };
    stack(GroupBox1, {StaticText1, PortNr, StaticText2, Speed, Label1, Parity, Label2, StopBits});
    stack(GroupBox2,
          {StaticText3, ComboBox1, Label18, MaskEdit6, StaticText4, Period, StaticText5, MaskEdit1});

    auto* columns = new QGridLayout(GroupBox4);
    columns->setContentsMargins(10, 14, 10, 10);
    columns->setHorizontalSpacing(10);
    columns->setVerticalSpacing(6);
    columns->addWidget(Panel2, 0, 0);
    columns->addWidget(Panel3, 0, 1);
    columns->addWidget(GroupBox1, 1, 0);
    columns->addWidget(GroupBox2, 1, 1);
    // Finding the meter when it does not answer at these settings.
    Button8 = new QPushButton(QStringLiteral("Szukaj przepływomierza"), GroupBox4);
    VQT_NAME(Button8);
    Button8->setToolTip(QStringLiteral("Odpytuje każdy adres przy typowych prędkościach i parzystościach, "
                                       "zaczynając od ustawionych, aż odpowie przepływomierz."));
    columns->addWidget(Button8, 2, 0, 1, 2);
    // Between the two groups in the Tab order: the time-out stays the page's
    // last field, from which Tab leaves the page.
    QWidget::setTabOrder(StopBits, Button8);
    QWidget::setTabOrder(Button8, ComboBox1);
    columns->setColumnStretch(0, 1);
    columns->setColumnStretch(1, 1);

    auto* right = new QVBoxLayout;
    right->setSpacing(8);
    right->addWidget(Panel4);
    right->addWidget(GroupBox4, 1);

    auto* page = new QHBoxLayout(TabSheet2);
    page->setContentsMargins(6, 6, 8, 6);
    page->setSpacing(8);
    page->addWidget(Image1);
    page->addLayout(right, 1);
}

void TForm1::buildDevicePage() {
    Bevel1 = new QFrame(TabSheet3);
    VQT_NAME(Bevel1);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel1->setLineWidth(1);

    const auto label = [this](std::string_view name) { return new QLabel(text(name), Bevel1); };
    const auto value = [this](const QString& text, bool readOnly) {
        QLineEdit* edit = field(text, readOnly, Bevel1);
        colorField(edit, kSkyBlue);
        return edit;
    };
    const auto list = [this](DropDownBox::Kind kind, const QStringList& items, const QColor& color) {
        auto* box = new DropDownBox(kind, Bevel1);
        box->addItems(items);
        box->setItemIndex(-1);
        colorField(box, color);
        return box;
    };
    const auto simple = [this](const QStringList& items, const QString& text) {
        auto* box = new SimpleComboBox(Bevel1);
        box->addItems(items);
        box->setText(text);
        colorField(box, kAqua);
        return box;
    };
    const QStringList flowUnits{QStringLiteral("[l/h]"), QStringLiteral("[m3/h]"), QStringLiteral("[l/min]")};
    const QStringList volumeUnits{QStringLiteral("[m3]"), QStringLiteral("[l]")};
    using Kind = DropDownBox::Kind;

    Label3 = label(model::label::Version);
    VQT_NAME(Label3);
    Edit1 = value(QStringLiteral("123456"), true);
    VQT_NAME(Edit1);
    Label4 = label(model::label::Diameter);
    VQT_NAME(Label4);
    Edit2 = value(QStringLiteral("3"), true);
    VQT_NAME(Edit2);
    Label5 = label(model::label::Range);
    VQT_NAME(Label5);
    ComboBox2 = list(Kind::DropDown,
                     {QStringLiteral("0,240"), QStringLiteral("0,200"), QStringLiteral("0,150"),
                      QStringLiteral("0,120"), QStringLiteral("0,100"), QStringLiteral("0,080"),
                      QStringLiteral("0,060"), QStringLiteral("0,040"), QStringLiteral("0,030"),
                      QStringLiteral("0,020"), QStringLiteral("0,015"), QStringLiteral("0,012 ")},
                     kSkyBlue);
    VQT_NAME(ComboBox2);
    Label6 = label(model::label::Flow);
    VQT_NAME(Label6);
    Edit3 = value(QStringLiteral("0,0"), true);
    VQT_NAME(Edit3);
    ComboBox3 = list(Kind::DropDown, flowUnits, kAqua);
    VQT_NAME(ComboBox3);
    ComboBox3->setText(QStringLiteral("[m3/h]"));
    Label19 = label(model::label::PulseWeight);
    VQT_NAME(Label19);
    ComboBox10 = list(Kind::DropDown,
                      {QStringLiteral("1"), QStringLiteral("10"), QStringLiteral("100"), QStringLiteral("X")},
                      kSkyBlue);
    VQT_NAME(ComboBox10);
    ComboBox11 = simple(volumeUnits, QStringLiteral("[m3]"));
    VQT_NAME(ComboBox11);
    ComboBox11->setEnabled(false); // shows the totaliser unit only
    Label7 = label(model::label::ForwardTotaliser);
    VQT_NAME(Label7);
    Edit4 = value(QStringLiteral("0,0"), true);
    VQT_NAME(Edit4);
    ComboBox4 = list(Kind::DropDown, volumeUnits, kAqua);
    VQT_NAME(ComboBox4);
    ComboBox4->setText(QStringLiteral("[m3]"));
    Button1 = new QPushButton(QStringLiteral("Zeruj licznik"), Bevel1);
    VQT_NAME(Button1);
    setBold(Button1);
    // The yellow caption needs a dark face to be readable; disabled, the
    // button looks like its disabled neighbour.
    {
        QPalette palette = Button1->palette();
        for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            palette.setColor(group, QPalette::ButtonText, kYellow);
            palette.setColor(group, QPalette::Button, kNavy);
        }
        Button1->setPalette(palette);
    }
    Label8 = label(model::label::ReverseTotaliser);
    VQT_NAME(Label8);
    Edit5 = value(QStringLiteral("0,0"), true);
    VQT_NAME(Edit5);
    ComboBox5 = list(Kind::DropDown, volumeUnits, kAqua);
    VQT_NAME(ComboBox5);
    ComboBox5->setText(QStringLiteral("[m3]"));
    Button2 = new QPushButton(QStringLiteral("Zeruj licznik"), Bevel1);
    VQT_NAME(Button2);
    Label12 = label(model::label::Cutoff);
    VQT_NAME(Label12);
    Edit8 = value(QStringLiteral("0,0"), false);
    VQT_NAME(Edit8);
    Label13 = label(model::label::TimeConstant);
    VQT_NAME(Label13);
    ComboBox9 =
        list(Kind::DropDown,
             {QStringLiteral("0.5"), QStringLiteral("1.0"), QStringLiteral("1.5"), QStringLiteral("2,0"),
              QStringLiteral("2,5"), QStringLiteral("3,0"), QStringLiteral("3,5"), QStringLiteral("4,0"),
              QStringLiteral("4,5"), QStringLiteral("5,0"), QStringLiteral("10,0"), QStringLiteral("15,0"),
              QStringLiteral("20,0"), QStringLiteral("25,0"), QStringLiteral("30,0")},
             kSkyBlue);
    VQT_NAME(ComboBox9);
    Label14 = label(model::label::KorK);
    VQT_NAME(Label14);
    MaskEdit2 = value(QStringLiteral("0,0"), true);
    VQT_NAME(MaskEdit2);
    Label16 = label(model::label::KorC);
    VQT_NAME(Label16);
    MaskEdit3 = value(QStringLiteral("0,0"), true);
    VQT_NAME(MaskEdit3);
    Label17 = label(model::label::ArchivePeriod);
    VQT_NAME(Label17);
    ComboBox8 = list(Kind::PickOnly,
                     {QStringLiteral("bez zapisu"), QStringLiteral("1 min"), QStringLiteral("2 min"),
                      QStringLiteral("5 min"), QStringLiteral("15 min"), QStringLiteral("30 min"),
                      QStringLiteral("1 godz"), QStringLiteral("2 godz"), QStringLiteral("8 godz"),
                      QStringLiteral("12 godz"), QStringLiteral("24 godz")},
                     kSkyBlue);
    VQT_NAME(ComboBox8);
    Label9 = label(model::label::Alarm1);
    VQT_NAME(Label9);
    MaskEdit4 = value(QStringLiteral("0,0"), false);
    VQT_NAME(MaskEdit4);
    ComboBox6 = simple(flowUnits, QStringLiteral("[m3/h]"));
    VQT_NAME(ComboBox6);
    Label11 = label(model::label::Alarm2);
    VQT_NAME(Label11);
    MaskEdit5 = value(QStringLiteral("0,0"), false);
    VQT_NAME(MaskEdit5);
    ComboBox7 = simple(flowUnits, QStringLiteral("[m3/h]"));
    VQT_NAME(ComboBox7);

    auto* grid = new QGridLayout(Bevel1);
    grid->setContentsMargins(8, 8, 6, 8);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    const auto row = [this, grid](QLabel* rowLabel, QWidget* valueWidget, QWidget* unit = nullptr,
                                  QWidget* button = nullptr) {
        const int r = grid->rowCount();
        grid->addWidget(rowLabel, r, 0);
        // Names, values and units keep their width, whatever the window's.
        if (valueWidget == ComboBox8) {
            grid->addWidget(valueWidget, r, 1, 1, 2, Qt::AlignLeft); // no unit: the longer items get room
        } else {
            valueWidget->setFixedWidth(76);
            grid->addWidget(valueWidget, r, 1);
        }
        if (unit) unit->setFixedWidth(64);
        if (unit) grid->addWidget(unit, r, 2);
        // Under its counter: beside it, the longest names would not fit into
        // the smallest window.
        if (button) grid->addWidget(button, r + 1, 1, 1, 2, Qt::AlignLeft);
    };
    row(Label3, Edit1);
    row(Label4, Edit2);
    row(Label5, ComboBox2);
    row(Label6, Edit3, ComboBox3);
    row(Label19, ComboBox10, ComboBox11);
    row(Label7, Edit4, ComboBox4, Button1);
    row(Label8, Edit5, ComboBox5, Button2);
    row(Label12, Edit8);
    row(Label13, ComboBox9);
    row(Label14, MaskEdit2);
    row(Label16, MaskEdit3);
    row(Label17, ComboBox8);
    row(Label9, MaskEdit4, ComboBox6);
    row(Label11, MaskEdit5, ComboBox7);
    // A wider window widens the empty last column: each name stays beside
    // its value instead of drifting away to the left.
    grid->setColumnStretch(3, 1);

    GroupBox3 = new QGroupBox(text(model::label::Alarms), TabSheet3);
    VQT_NAME(GroupBox3);
    setBold(GroupBox3, true);
    setColor(GroupBox3, QPalette::WindowText, kRed);
    ListBox1 = new QListWidget(GroupBox3);
    VQT_NAME(ListBox1);
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

void TForm1::buildDiagnosticsPage() {
    RichEdit1 = new QPlainTextEdit(TabSheet1);
    VQT_NAME(RichEdit1);
    RichEdit1->setReadOnly(true);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Days of tracing stay fast: the oldest lines go once the limit is reached.
    RichEdit1->setMaximumBlockCount(kDiagnosticsLineLimit);
    RichEdit1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QPalette palette = RichEdit1->palette();
    palette.setColor(QPalette::Base, kNavy);
    palette.setColor(QPalette::Text, Qt::white);
    RichEdit1->setPalette(palette);
    RichEdit1->setPlainText(QStringLiteral("RichEdit1"));
    RichEdit1->setContextMenuPolicy(Qt::CustomContextMenu); // the standard entries and saving
    SaveTrace1 = new QAction(QStringLiteral("Zapisz do pliku…"), RichEdit1);
    VQT_NAME(SaveTrace1);

    Button3 = new QPushButton(QStringLiteral("Start diagnostyki"), TabSheet1);
    VQT_NAME(Button3);
    Button7 = new QPushButton(QStringLiteral("Wyczysc ekran"), TabSheet1);
    VQT_NAME(Button7);
    Button6 = new QPushButton(QStringLiteral("Stop diagnostyki"), TabSheet1);
    VQT_NAME(Button6);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    for (QPushButton* button : {Button3, Button7, Button6}) {
        button->setMinimumWidth(150);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);

    auto* page = new QVBoxLayout(TabSheet1);
    page->setContentsMargins(6, 6, 6, 6);
    page->addWidget(RichEdit1, 1);
    page->addLayout(buttons);
}

void TForm1::buildChartPage() {
    Chart1 = new monitor::FlowChart(Flows, TabSheet4);
    VQT_NAME(Chart1);
    auto* page = new QVBoxLayout(TabSheet4);
    page->setContentsMargins(4, 4, 4, 4);
    page->addWidget(Chart1);
}
