// TForm1: start-up, the settings file, the address and time-out fields.
#include "Unit1.h"

#include "Convert.h"
#include "Cp1250.h"
#include "Messages.h"

#include <SerialPort.h>

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTimer>

#include <stdexcept>

using monitor::FileErrorText;

void TForm1::FormShow() {
    ConfigPath = QDir::currentPath() + QLatin1Char('/') + QLatin1String(kConfigFileName);
    // Not connected: the polling starts off-line and only the user connects.
    loadSettings();
    for (DropDownBox* box : {ComboBox2, ComboBox9, ComboBox8, ComboBox3, ComboBox4, ComboBox5, ComboBox10})
        box->setItemIndex(0);
    ComboBox6->setItemIndex(0);
    ComboBox7->setItemIndex(0);
    RichEdit1->clear();
    describePorts();
}

void TForm1::describePorts() {
    // The port this program works on is left alone: a probe takes its lock
    // for a moment, and a transaction starting then would fail.
    const bool working = Poll->Connected() || Archive->ArchiveRunning();
    const int inUse = working ? PortNr->currentIndex() : -1;
    for (int i = 0; i < PortNr->count(); ++i) {
        const std::string name = PortNr->itemText(i).toStdString();
        std::string tip;
        if (i == inUse) {
            const std::string path = modbus::ResolveDevice(name);
            tip = name + (path != name ? " → " + path : std::string()) + ": używany przez ten program.";
        } else {
            tip = modbus::DescribeProbe(modbus::ProbePort(name));
        }
        PortNr->setItemData(i, QString::fromStdString(tip), Qt::ToolTipRole);
    }
}

void TForm1::loadSettings() {
    QFile file(ConfigPath);
    if (!file.exists()) {
        Speed->setItemIndex(3);
        PortNr->setItemIndex(0);
        StopBits->setItemIndex(0);
        Parity->setItemIndex(0);
        ComboBox1->setItemIndex(0);
        return;
    }
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(
            FileErrorText(QStringLiteral("Odczyt"), ConfigPath, file.errorString()).toStdString());
    DropDownBox* const lists[] = {PortNr, Speed, Parity, StopBits, ComboBox1};
    QLineEdit* const texts[] = {MaskEdit6, Period, MaskEdit1};
    // Lines that the file lacks leave their controls as they are; a line
    // that is not a number stops the loading there (QFile closes on unwind).
    for (int line = 0; line < 8 && !file.atEnd(); ++line) {
        QByteArray bytes = file.readLine();
        if (file.error() != QFileDevice::NoError)
            throw std::runtime_error(
                FileErrorText(QStringLiteral("Odczyt"), ConfigPath, file.errorString()).toStdString());
        if (bytes.endsWith('\n')) bytes.chop(1);
        if (bytes.endsWith('\r')) bytes.chop(1);
        const QString text = QString::fromStdString(model::Cp1250ToUtf8(bytes.toStdString()));
        if (line >= 5) {
            texts[line - 5]->setText(text);
            continue;
        }
        try {
            lists[line]->setItemIndex(monitor::StrToInt(text));
        } catch (const monitor::ConvertError& error) {
            // Say where: the user has to find the line to mend it.
            throw monitor::ConvertError(QStringLiteral("%1, wiersz %2: %3")
                                            .arg(QDir::toNativeSeparators(ConfigPath))
                                            .arg(line + 1)
                                            .arg(QString::fromUtf8(error.what())));
        }
    }
}

void TForm1::TabSheet2Exit() {
    if (ConfigPath.isEmpty()) return; // the page cannot be left before the window is shown
    saveSettings();
}

void TForm1::saveSettings() {
    QString content;
    for (DropDownBox* list : {PortNr, Speed, Parity, StopBits, ComboBox1})
        content += QString::number(list->currentIndex()) + QStringLiteral("\r\n");
    for (QLineEdit* text : {MaskEdit6, Period, MaskEdit1}) content += text->text() + QStringLiteral("\r\n");
    const QByteArray bytes = QByteArray::fromStdString(model::Utf8ToCp1250(content.toStdString()));

    // Written beside the old file and renamed over it: a failed write leaves
    // the previous settings intact.
    QSaveFile file(ConfigPath);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error(
            FileErrorText(QStringLiteral("Zapis"), ConfigPath, file.errorString()).toStdString());
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw std::runtime_error(
            FileErrorText(QStringLiteral("Zapis"), ConfigPath, file.errorString()).toStdString());
}

void TForm1::MaskEdit6Exit() {
    const int32_t address = monitor::StrToInt(MaskEdit6->text());
    if (!modbus::IsDeviceAddress(address)) {
        monitor::ShowInformation(QStringLiteral("Adres urządzenia poza zakresem."));
        MaskEdit6->setText(QStringLiteral("1"));
    }
}

void TForm1::MaskEdit1Exit() {
    const int32_t timeout = monitor::StrToInt(MaskEdit1->text());
    Timer1->setInterval(monitor::TickInterval(timeout));
    Timer3->setInterval(1);
}
