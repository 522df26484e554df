// TForm1: the archive download.
#include "Unit1.h"

#include <QKeyEvent>

// One tick of the archive cycle.
void TForm1::Timer3Timer() {}
// End of the pacing between archive requests: starts the next request.
void TForm1::Timer4Timer() {}
// Opens the export window, or stops a running archive download.
void TForm1::Button5Click() {}
