// TForm1: connecting, the polling cycle and the decode of each good read.
#include "monitor/Unit1.h"

#include "monitor/Convert.h"
#include "monitor/Messages.h"
#include "monitor/Unit1Views.h"

#include "modbus/SerialPort.h"
#include "model/ConfigFile.h"
#include "model/Decode.h"
#include "model/LinkCheck.h"
#include "model/Tables.h"

#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QTime>
#include <QTimer>

namespace {

using platform::OrReason;

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// "Setting: reason", so that the user knows which field to mend.
std::string settingError(const QString& setting, const QString& reason) {
    return (setting + QStringLiteral(": ") + reason).toStdString();
}

template <class T> OrReason<T> refuse(const QString& setting, const QString& reason) {
    OrReason<T> reading;
    reading.error = settingError(setting, reason);
    return reading;
}

// Sets a text only when it differs: an unchanged field is not repainted, and a
// user's selection in it stays.
template <class Widget> void showText(Widget* widget, const std::string& text) {
    const QString shown = q(text);
    if (widget->text() != shown) widget->setText(shown);
}

} // namespace

// --- the handlers ---

// Connects to the meter or disconnects.
void TForm1::Button4Click() {
    // The chart draws no line across the time off-line.
    Flows.Break();
    Poll->ConnectButton();
    followPoll();
}

// One tick of the polling cycle: completion, time-out and restart.
void TForm1::Timer1Timer() {
    Poll->Wake();
    followPoll();
}

// End of the pause between polls: starts the next transaction.
void TForm1::Timer2Timer() {
    Poll->Wake();
    followPoll();
}

// --- the device page ---

void TForm1::setAlarms(uint8_t alarms) {
    showAlarms(model::AlarmLines(alarms));
}

void TForm1::showAlarms(const std::vector<std::string>& alarms) {
    QStringList lines;
    for (const std::string& line : alarms) lines << q(line);
    QStringList shown;
    for (int i = 0; i < ListBox1->count(); ++i) shown << ListBox1->item(i)->text();
    if (shown == lines) return; // the same alarms: no flicker, the user's selection stays
    ListBox1->clear();
    ListBox1->addItems(lines);
}

void TForm1::setRange(uint8_t dnIndex) {
    ComboBox2->clear();
    for (const std::string& item : model::RangeList(dnIndex)) ComboBox2->addItem(q(item));
}

void TForm1::showParameters(const model::DeviceView& v) {
    // Every control is set from the program: none of this is a user change.
    if (v.Diameter) showText(Edit2, *v.Diameter);
    if (v.RangeItems) {
        ComboBox2->clear();
        for (const std::string& item : *v.RangeItems) ComboBox2->addItem(q(item));
    }
    showText(ComboBox10, v.PulseWeight);
    showText(ComboBox4, v.ForwardTotaliserUnit);
    showText(ComboBox5, v.ReverseTotaliserUnit);
    ComboBox11->setItemIndex(v.PulseWeightUnitIndex);
    showText(ComboBox3, v.FlowUnit);
    ComboBox6->setItemIndex(v.Alarm1UnitIndex);
    ComboBox7->setItemIndex(v.Alarm2UnitIndex);
    showAlarms(v.Alarms);
    if (v.Cutoff) showText(Edit8, *v.Cutoff);
    showText(ComboBox9, v.TimeConstant);
    showText(ComboBox2, v.Range);
    if (v.Alarm1) showText(MaskEdit4, *v.Alarm1);
    if (v.Alarm2) showText(MaskEdit5, *v.Alarm2);
    showText(Edit3, v.Flow);
    showText(MaskEdit2, v.KorK);
    showText(MaskEdit3, v.KorC);
    showText(Edit4, v.ForwardTotaliser);
    showText(Edit5, v.ReverseTotaliser);
    showText(ComboBox8, v.ArchivePeriod);
    showText(Edit1, v.Version);
}

uint8_t TForm1::getParity() const {
    const int item = Parity->currentIndex();
    return item >= 0 ? modbus::kParities[size_t(item)].Code : modbus::kNoParity;
}

uint8_t TForm1::getStopBits() const {
    const int item = StopBits->currentIndex();
    return item >= 0 ? modbus::kStopBits[size_t(item)].Code : modbus::kOneStopBit;
}

// --- the settings as the cycles read them ---

void TForm1::followPoll() {
    const std::optional<int64_t> next = Poll->NextWakeMs();
    follow(next, Poll->state() == core::PollCycle::State::Pause, *Timer1, *Timer2, PollWake,
           next ? PollView->MsUntil(*next) : 0);
}

void TForm1::follow(std::optional<int64_t> next, bool waiting, QTimer& tick, QTimer& wait,
                    std::optional<int64_t>& armed, int msLeft) {
    QTimer& timer = waiting ? wait : tick;
    if (next && next == armed && timer.isActive()) return; // the same wait goes on
    armed = next;
    wait.stop();
    tick.stop();
    if (!next) return;
    if (waiting) wait.setInterval(msLeft);
    timer.start();
}

modbus::LinkChoice TForm1::pageChoice() const {
    const auto item = [](const DropDownBox* box) -> std::optional<size_t> {
        return box->currentIndex() < 0 ? std::nullopt : std::optional<size_t>(size_t(box->currentIndex()));
    };
    modbus::LinkChoice choice;
    if (PortNr->currentIndex() >= 0) choice.Port = PortNr->text().toStdString();
    choice.Speed = item(Speed);
    choice.Parity = item(Parity);
    choice.StopBits = item(StopBits);
    choice.Address = MaskEdit6->text().toStdString();
    return choice;
}

OrReason<modbus::LinkSettings> TForm1::readLink() {
    modbus::LinkChoice choice = pageChoice();
    // A time-out field being typed in keeps its last number.
    if (const OrReason<int32_t> timeout = readTimeout()) LastTimeoutMs = *timeout;
    choice.TimeoutMs = LastTimeoutMs;
    return model::CheckLink(choice);
}

OrReason<int32_t> TForm1::readPeriod() {
    const QString label = QStringLiteral("Okres skanowania [ms]");
    int32_t period = 0;
    try {
        period = monitor::StrToInt(Period->text());
    } catch (const monitor::ConvertError& error) {
        return refuse<int32_t>(label, QString::fromUtf8(error.what()));
    }
    if (period < 0) return refuse<int32_t>(label, QStringLiteral("wartość nie może być ujemna."));
    OrReason<int32_t> result;
    result.value = period;
    return result;
}

OrReason<int32_t> TForm1::readTimeout() {
    OrReason<int32_t> result;
    try {
        result.value = monitor::StrToInt(MaskEdit1->text());
    } catch (const monitor::ConvertError& error) {
        result.error = settingError(QStringLiteral("Timeout odpowiedzi przetwornika [ms]"),
                                    QString::fromUtf8(error.what()));
    }
    return result;
}

// --- what the polling cycle asks of the window ---

void TForm1::PollWindow::ShowParameters(const model::DeviceView& decoded, const model::MeterReading& reading,
                                        const model::ParameterBlock&) {
    Form.showParameters(decoded);
    Form.settingsRead(reading);
    Form.Notes.LastGoodRead = QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString();
    // In the unit the device page now shows, which this read may have changed.
    Form.Flows.SetUnit(decoded.Indexes.FlowUnitIndex);
    Form.Flows.Add(QDateTime::currentMSecsSinceEpoch(), reading.FlowCubicMetresPerHour);
}

void TForm1::PollWindow::ShowPendingWrites(const std::string& text) {
    Form.showWrites(q(text), Form.DroppedText);
}

void TForm1::PollWindow::ShowDroppedWrites(const std::string& text) {
    if (!text.empty()) Form.settingsStopped(text);
    Form.showWrites(Form.WaitingText, q(text));
}

void TForm1::PollWindow::GiveBack(const model::DeviceView& again, const std::vector<uint8_t>& registers) {
    for (const uint8_t reg : registers) {
        for (QWidget* control : Form.controlsWriting(reg)) {
            // The focus does not come back to a value that is not the meter's:
            // not now, nor when its page is shown again.
            if (control->hasFocus()) Form.PageControl1->setFocus(Qt::OtherFocusReason);
            if (Form.TabSheet3->focusWidget() == control) control->clearFocus();
        }
    }
    Form.showParameters(again);
}

void TForm1::PollWindow::ValuesCurrent(bool current) {
    Form.Notes.ValuesCurrent = current;
    Form.showValuesCurrent(current);
    Form.showDetails();
}

void TForm1::PollWindow::ShowMeter(const std::optional<modbus::LinkSettings>& meter) {
    Form.Notes.Meter = meter;
    if (!meter) Form.settingsStopped("połączenie zakończone");
    if (meter) Form.Notes.Saved.clear(); // polling again: the last download is old news
    Form.showDetails();
}

void TForm1::PollWindow::ShowPortProblem(const std::string& text) {
    Form.Notes.PortProblem = text;
    Form.showDetails();
}

void TForm1::PollWindow::ShowUnanswered(bool unanswered) {
    Form.Notes.Unanswered = unanswered;
    Form.showDetails();
}

std::string TForm1::PollWindow::PortPath(const std::string& portName) {
    return modbus::ResolveDevice(portName);
}

void TForm1::PollWindow::ShowPortNote(const std::string& note) {
    Form.Notes.PortNote = note;
    Form.showDetails();
}

void TForm1::PollWindow::ShowInitialValues() {
    Form.showInitialValues();
}

void TForm1::PollWindow::TransactionFailed(const std::string& result) {
    Form.Flows.Break();
    Form.settingsFailed(result);
}

void TForm1::PollWindow::SetConnectCaption(const std::string& caption) {
    Form.Button4->setText(q(caption));
}

void TForm1::PollWindow::SetListsEditable(bool editable) {
    const auto kind = editable ? DropDownBox::Kind::DropDown : DropDownBox::Kind::PickOnly;
    for (DropDownBox* box :
         {Form.ComboBox9, Form.ComboBox8, Form.ComboBox10, Form.ComboBox4, Form.ComboBox5, Form.ComboBox3})
        box->setKind(kind);
}

void TForm1::PollWindow::RestoreSelections(const model::CachedIndexes& indexes) {
    Form.ComboBox9->setItemIndex(indexes.TimeConstantIndex);
    Form.ComboBox8->setItemIndex(indexes.ArchivePeriodIndex);
    Form.ComboBox10->setItemIndex(indexes.PulseWeightIndex);
    Form.ComboBox4->setItemIndex(indexes.TotaliserUnitIndex);
    Form.ComboBox5->setItemIndex(indexes.ReverseTotaliserUnitIndex);
    Form.ComboBox3->setItemIndex(indexes.FlowUnitIndex);
}
