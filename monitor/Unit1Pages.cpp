// TForm1: construction of the four pages and their controls.
#include "monitor/Unit1.h"

#include "monitor/Dialogs.h"
#include "monitor/FlowChart.h"
#include "monitor/JpegImage.h"
#include "monitor/Naming.h"
#include "monitor/PageLook.h"

#include "modbus/LinkSettings.h"
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

using namespace monitor;

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

    buildCommunicationFields();

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

// The port's and the protocol's fields, a label above each.
void TForm1::buildCommunicationFields() {
    const auto label = [](const QString& text, QGroupBox* group) {
        auto* result = new QLabel(text, group);
        setColor(result, QPalette::WindowText, kBlue);
        setBold(result);
        return result;
    };
    const auto pickOnly = [](const QStringList& items, QGroupBox* group, DropDownBox* box = nullptr) {
        if (!box) box = new DropDownBox(DropDownBox::Kind::PickOnly, group);
        box->addItems(items);
        box->setCurrentIndex(-1); // no selection until the settings are loaded
        colorField(box, Qt::white);
        return box;
    };

    QStringList parities, stopBits;
    for (const modbus::ParityEntry& p : modbus::kParities) parities << text(p.Text);
    for (const modbus::StopBitsEntry& s : modbus::kStopBits) stopBits << text(s.Text);

    StaticText1 = label(QStringLiteral("Numer portu"), GroupBox1);
    VQT_NAME(StaticText1);
    QStringList comPorts;
    for (int i = 1; i <= modbus::kPortCount; ++i) comPorts << QStringLiteral("COM%1").arg(i);
    // The ports present and the item to type another come with the start-up.
    PortNr = pickOnly(comPorts, GroupBox1, new monitor::PortBox(GroupBox1));
    VQT_NAME(PortNr);
    // Picking "Inny port lub bramka…" asks for the port's name.
    connect(PortNr, &DropDownBox::userChanged, this, [this] { Dialogs.Guarded([this] { PortNrChange(); }); });
    StaticText2 = label(QStringLiteral("Prędkość transmisji"), GroupBox1);
    VQT_NAME(StaticText2);
    QStringList speeds;
    for (const uint32_t speed : modbus::kSpeeds) speeds << QString::number(speed);
    Speed = pickOnly(speeds, GroupBox1);
    VQT_NAME(Speed);
    Label1 = label(QStringLiteral("Kontola parzystości"), GroupBox1);
    VQT_NAME(Label1);
    Parity = pickOnly(parities, GroupBox1);
    VQT_NAME(Parity);
    Label2 = label(QStringLiteral("Bity stopu"), GroupBox1);
    VQT_NAME(Label2);
    StopBits = pickOnly(stopBits, GroupBox1);
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
    Chart1 = new monitor::FlowChart(Flows, Dialogs, TabSheet4);
    VQT_NAME(Chart1);
    auto* page = new QVBoxLayout(TabSheet4);
    page->setContentsMargins(4, 4, 4, 4);
    page->addWidget(Chart1);
    buildReportButtons(page);
}
