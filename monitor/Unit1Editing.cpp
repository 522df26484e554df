// TForm1: the editing handlers of the device page. Each reads its control,
// queues through the plain editing code, and at most moves the focus; the
// polling cycle sends the queued write with its next transaction.
#include "monitor/Unit1.h"

#include "monitor/Convert.h"
#include "monitor/DPlik.h"
#include "monitor/Dialogs.h"

#include "model/DevicePage.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>

using core::ListSetting;
using Field = core::PollCycle::Field;

namespace {

bool isEnter(const QKeyEvent* key) {
    return key && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter);
}

void throwIfFailed(const platform::Outcome& outcome) {
    if (!outcome) throw monitor::ConvertError(QString::fromStdString(outcome.error));
}

} // namespace

template <class Box> void TForm1::queueChoice(Box* box, ListSetting setting) {
    // Typed text that names no item queues nothing and goes.
    if (!Poll->QueueChoice(setting, box->userIndex(), box->count())) box->revertUserText();
}

void TForm1::queueCutoff() {
    if (!Poll->LeaveField(Field::Cutoff)) return; // nothing typed: nothing to write
    const double percent = monitor::StrToFloat(Edit8->text());
    throwIfFailed(Poll->QueueCutoff(percent, QLocale().decimalPoint().toStdString()));
}

void TForm1::queueAlarm(int alarm) {
    if (!Poll->LeaveField(alarm == 1 ? Field::Alarm1 : Field::Alarm2)) return;
    QLineEdit* field = alarm == 1 ? MaskEdit4 : MaskEdit5;
    SimpleComboBox* unit = alarm == 1 ? ComboBox6 : ComboBox7;
    const double value = monitor::StrToFloat(field->text());
    throwIfFailed(Poll->QueueAlarm(alarm, value, unit->itemIndex()));
}

// A totaliser may be what a bill is made from: one click or one Space does
// not clear it without a "TAK".
void TForm1::queueReset(uint8_t firstRegister, std::string_view totaliser) {
    QString name = QString::fromUtf8(totaliser.data(), static_cast<qsizetype>(totaliser.size()));
    name[0] = name[0].toLower();
    if (!Dialogs.Ask(OKBottomDlg1, QStringLiteral("Wyzerować %1 ?").arg(name))) return;
    Poll->QueueTotaliserReset(firstRegister);
}

// Asks, then queues the reset of the forward totaliser.
void TForm1::Button1Click() {
    queueReset(core::reg::ForwardTotaliser, model::label::ForwardTotaliser);
}

// Asks, then queues the reset of the reverse totaliser.
void TForm1::Button2Click() {
    queueReset(core::reg::ReverseTotaliser, model::label::ReverseTotaliser);
}

// Queues the chosen measuring range.
void TForm1::ComboBox2Change() {
    queueChoice(ComboBox2, ListSetting::Range);
}

// Queues the flow unit.
void TForm1::ComboBox3Change() {
    queueChoice(ComboBox3, ListSetting::FlowUnit);
}

// Queues the totaliser unit.
void TForm1::ComboBox4Change() {
    queueChoice(ComboBox4, ListSetting::TotaliserUnit);
}

// Queues the totaliser unit.
void TForm1::ComboBox5Change() {
    queueChoice(ComboBox5, ListSetting::TotaliserUnit);
}

// Queues the flow unit (alarm 1's list).
void TForm1::ComboBox6Change() {
    queueChoice(ComboBox6, ListSetting::FlowUnit);
}

// Queues the flow unit (alarm 2's list).
void TForm1::ComboBox7Change() {
    queueChoice(ComboBox7, ListSetting::FlowUnit);
}

// Queues the archive recording period.
void TForm1::ComboBox8Change() {
    queueChoice(ComboBox8, ListSetting::ArchivePeriod);
}

// Queues the time constant.
void TForm1::ComboBox9Change() {
    queueChoice(ComboBox9, ListSetting::TimeConstant);
}

// Queues the pulse weight.
void TForm1::ComboBox10Change() {
    queueChoice(ComboBox10, ListSetting::PulseWeight);
}

// Keeps the polling off the cut-off field while it is edited.
void TForm1::Edit8Enter() {
    Poll->Editing.CutoffEditing = true;
}

// Queues the typed cut-off.
void TForm1::Edit8Exit() {
    queueCutoff();
}

// Enter queues the cut-off and moves on to the alarm 1 field.
void TForm1::Edit8KeyPress(QKeyEvent* key) {
    if (!isEnter(key)) return;
    queueCutoff();
    MaskEdit4->setFocus(Qt::TabFocusReason);
}

// Keeps the polling off the alarm 1 field while it is edited.
void TForm1::MaskEdit4Enter() {
    Poll->Editing.Alarm1Editing = true;
}

// Queues the typed alarm 1 threshold.
void TForm1::MaskEdit4Exit() {
    queueAlarm(1);
}

// Enter queues the alarm 1 threshold and moves on to the alarm 2 field.
void TForm1::MaskEdit4KeyPress(QKeyEvent* key) {
    if (!isEnter(key)) return;
    queueAlarm(1);
    MaskEdit5->setFocus(Qt::TabFocusReason);
}

// Keeps the polling off the alarm 2 field while it is edited.
void TForm1::MaskEdit5Enter() {
    Poll->Editing.Alarm2Editing = true;
}

// Queues the typed alarm 2 threshold.
void TForm1::MaskEdit5Exit() {
    queueAlarm(2);
}

// Enter queues the alarm 2 threshold and moves on to the cut-off field.
void TForm1::MaskEdit5KeyPress(QKeyEvent* key) {
    if (!isEnter(key)) return;
    queueAlarm(2);
    Edit8->setFocus(Qt::TabFocusReason);
}
