// TForm1: connecting, the polling cycle and the decode of each good read.
#include "Unit1.h"

#include <QKeyEvent>

// One tick of the polling cycle: completion, time-out and restart.
void TForm1::Timer1Timer() {}
// End of the pause between polls: starts the next transaction.
void TForm1::Timer2Timer() {}
// Connects to the meter or disconnects.
void TForm1::Button4Click() {}
