// The main window: the parameter chart.
#include "TForm1.h"

void TForm1::UpdateChart()
{
}
