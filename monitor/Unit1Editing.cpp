// TForm1: the editing handlers of the device page.
#include "Unit1.h"

#include <QKeyEvent>

// Queues the reset of the forward totaliser.
void TForm1::Button1Click() {}
// Queues the reset of the reverse totaliser.
void TForm1::Button2Click() {}
// Queues the chosen measuring range.
void TForm1::ComboBox2Change() {}
// Queues the flow unit.
void TForm1::ComboBox3Change() {}
// Queues the totaliser unit.
void TForm1::ComboBox4Change() {}
// Queues the totaliser unit.
void TForm1::ComboBox5Change() {}
// Queues the flow unit (alarm 1's list).
void TForm1::ComboBox6Change() {}
// Queues the flow unit (alarm 2's list).
void TForm1::ComboBox7Change() {}
// Queues the archive recording period.
void TForm1::ComboBox8Change() {}
// Queues the time constant.
void TForm1::ComboBox9Change() {}
// Queues the pulse weight.
void TForm1::ComboBox10Change() {}
// Keeps the polling off the cut-off field while it is edited.
void TForm1::Edit8Enter() {}
// Queues the typed cut-off.
void TForm1::Edit8Exit() {}
// Enter queues the cut-off and moves on to the alarm 1 field.
void TForm1::Edit8KeyPress(QKeyEvent*) {}
// Keeps the polling off the alarm 1 field while it is edited.
void TForm1::MaskEdit4Enter() {}
// Queues the typed alarm 1 threshold.
void TForm1::MaskEdit4Exit() {}
// Enter queues the alarm 1 threshold and moves on to the alarm 2 field.
void TForm1::MaskEdit4KeyPress(QKeyEvent*) {}
// Keeps the polling off the alarm 2 field while it is edited.
void TForm1::MaskEdit5Enter() {}
// Queues the typed alarm 2 threshold.
void TForm1::MaskEdit5Exit() {}
// Enter queues the alarm 2 threshold and moves on to the cut-off field.
void TForm1::MaskEdit5KeyPress(QKeyEvent*) {}
