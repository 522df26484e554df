// TForm1: start-up, the settings file, the port list, the address and
// time-out fields.
#include "monitor/Unit1.h"

#include "monitor/Convert.h"
#include "monitor/Dialogs.h"
#include "monitor/Messages.h"

#include "model/ConfigFile.h"
#include "model/LinkCheck.h"

#include "modbus/LinkSettings.h"
#include "modbus/SerialPort.h"
#include "platform/SerialPorts.h"

#include <QCoreApplication>
#include <QDir>
#include <QInputDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>

#include <stdexcept>

void TForm1::FormShow() {
    ConfigPath = QDir::currentPath() + QLatin1Char('/') +
                 QString::fromUtf8(model::kConfigFileName.data(), qsizetype(model::kConfigFileName.size()));
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
    // Looked up again each time: an adapter may have been plugged in since.
    ports().setPresent(monitor::PortsBeyondTheTwelve(platform::ListSerialPorts()));
    // The port this program works on is left alone, under any of its names:
    // a probe takes its lock for a moment, and a transaction starting then
    // would fail.
    const bool working = Poll->Connected() || Archive->ArchiveRunning();
    const std::string inUse = working && PortNr->currentIndex() >= 0 ? PortNr->text().toStdString() : "";
    for (int i = 0; i < PortNr->count(); ++i) {
        const std::string name = PortNr->itemText(i).toStdString();
        // A gateway is only reached when a transaction connects to it.
        QString tip = monitor::DescribeGateway(name);
        if (ports().isOtherItem(i)) {
            tip = QStringLiteral("Port spoza listy albo bramka Ethernet: wpisz nazwę lub adres.");
        } else if (tip.isEmpty() && !inUse.empty() && (name == inUse || monitor::SameDevice(name, inUse))) {
            const std::string path = modbus::ResolveDevice(name);
            tip = QString::fromStdString(name + (path != name ? " → " + path : std::string()) +
                                         ": używany przez ten program.");
        } else if (tip.isEmpty()) {
            tip = QString::fromStdString(modbus::DescribeProbe(modbus::ProbePort(name)));
        }
        if (const QString about = ports().about(i); !about.isEmpty()) tip += QLatin1Char('\n') + about;
        PortNr->setItemData(i, tip, Qt::ToolTipRole);
    }
}

void TForm1::PortNrChange() {
    if (!ports().otherItemChosen()) return; // a port: the next transaction takes it
    // The port chosen before stays chosen unless a good name is typed.
    ports().backToChosen();
    QInputDialog ask(this);
    ask.setWindowTitle(QStringLiteral("Inny port lub bramka"));
    ask.setLabelText(QStringLiteral("Nazwa portu spoza listy albo adres bramki Ethernet, np.:\n%1")
                         .arg(monitor::PortNameExamples()));
    ask.setTextValue(ports().portBeyondTheTwelve());
    monitor::OpenOver(&ask, this);
    const bool typed = ask.exec() == QDialog::Accepted;
    const QString text = ask.textValue();
    if (!typed || text.trimmed().isEmpty()) return;
    const platform::OrReason<std::string> name = monitor::CheckPortName(text.toStdString());
    if (!name) {
        Dialogs.ShowInformation(QString::fromStdString(name.error),
                                QStringLiteral("Na przykład:\n") + monitor::PortNameExamples());
        return;
    }
    ports().selectPort(QString::fromStdString(*name));
    describePorts();
}

void TForm1::loadSettings() {
    const platform::OrReason<std::optional<model::ConfigLines>> loaded = model::LoadConfig(configPath());
    if (!loaded) throw std::runtime_error(loaded.error);
    if (!*loaded) {
        const model::ConfigLists defaults;
        PortNr->setItemIndex(defaults.Port);
        Speed->setItemIndex(defaults.Speed);
        StopBits->setItemIndex(defaults.StopBits);
        Parity->setItemIndex(defaults.Parity);
        ComboBox1->setItemIndex(defaults.Mode);
        return;
    }
    const model::ConfigLines& lines = **loaded;
    DropDownBox* const lists[] = {PortNr, Speed, Parity, StopBits, ComboBox1};
    QLineEdit* const texts[] = {MaskEdit6, Period, MaskEdit1};
    // Lines that the file lacks leave their controls as they are. An index
    // the list does not have leaves it without a selection, and an address
    // that cannot be is kept as it stands, but the user is told of both.
    QStringList problems;
    const QString file = QString::fromStdString(configPath());
    for (size_t i = 0; i < lines.Lists.size(); ++i) {
        if (!lines.Lists[i]) continue;
        const platform::OrReason<std::optional<size_t>> item =
            model::CheckListIndex(model::LinkList(i), *lines.Lists[i]);
        lists[i]->setItemIndex(item && *item ? int(**item) : -1);
        if (!item)
            problems << QStringLiteral("%1, wiersz %2: %3; lista zostaje bez wyboru.")
                            .arg(file)
                            .arg(i + 1)
                            .arg(QString::fromStdString(item.error));
    }
    if (lines.PortName) {
        if (const platform::OrReason<std::string> name = monitor::CheckPortName(*lines.PortName))
            ports().selectPort(QString::fromStdString(*name));
        else
            problems << QStringLiteral("%1, wiersz 9: %2").arg(file, QString::fromStdString(name.error));
    }
    for (size_t i = 0; i < lines.Texts.size(); ++i)
        if (lines.Texts[i]) texts[i]->setText(QString::fromStdString(*lines.Texts[i]));
    if (lines.Texts[0])
        if (const platform::OrReason<uint8_t> address = model::ReadAddress(*lines.Texts[0]); !address)
            problems << QStringLiteral("%1, wiersz 6: %2").arg(file, QString::fromStdString(address.error));
    if (!problems.isEmpty()) Dialogs.ShowInformation(problems.join(QLatin1Char('\n')));
    // A line that is not a number stopped the reading there; the lines
    // before it stay applied.
    if (!lines.Stopped.empty()) throw monitor::ConvertError(QString::fromStdString(lines.Stopped));
}

void TForm1::TabSheet2Exit() {
    if (ConfigPath.isEmpty()) return; // the page cannot be left before the window is shown
    saveSettings();
    // A write waiting for the meter the page named before is not sent to another.
    Poll->CheckWriteTargets();
}

void TForm1::saveSettings() {
    model::ConfigValues values;
    values.Lists = {ports().fileIndex(), Speed->currentIndex(), Parity->currentIndex(),
                    StopBits->currentIndex(), ComboBox1->currentIndex()};
    values.PortName = ports().portBeyondTheTwelve().toStdString();
    values.Address = MaskEdit6->text().toStdString();
    values.Period = Period->text().toStdString();
    values.Timeout = MaskEdit1->text().toStdString();
    if (const platform::Outcome saved = model::SaveConfig(configPath(), values); !saved)
        throw std::runtime_error(saved.error);
}

std::string TForm1::configPath() const {
    return QDir::toNativeSeparators(ConfigPath).toStdString();
}

void TForm1::MaskEdit6Exit() {
    if (!model::ReadAddress(MaskEdit6->text().toStdString())) {
        // A text that is no number goes to the general error handler.
        monitor::StrToInt(MaskEdit6->text());
        Dialogs.ShowInformation(QStringLiteral("Adres urządzenia poza zakresem."));
        MaskEdit6->setText(QStringLiteral("1"));
    }
}

void TForm1::MaskEdit1Exit() {
    const int32_t timeout = monitor::StrToInt(MaskEdit1->text());
    Timer1->setInterval(monitor::TickInterval(timeout));
    Timer3->setInterval(1);
}
