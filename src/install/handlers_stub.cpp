// Placeholder handlers until the install flow lands.
#include "form2.h"

void TForm2::FormShow() {}
void TForm2::Image2adClick() {}
void TForm2::Button1Click() {}
void TForm2::onWorkBegin(HttpClient &, TWorkMode, qint64) {}
void TForm2::onWork(HttpClient &, TWorkMode, qint64) {}
