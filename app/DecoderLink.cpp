// Decoder ports, decoder commands, passing input, speed measurement and the
// display board: the handlers of the road of a passing.
#include "Ukorvane.h"

#include "Framework.h"

void TFkorvane::startDecoderInput() {}
void TFkorvane::stopDecoderInput() {}

void TFkorvane::RGport1Click() { S.Port1 = RGport1->ItemIndex(); }
void TFkorvane::RGport2Click() { S.Port2 = RGport2->ItemIndex(); }
void TFkorvane::RGport3Click() { S.Port3 = RGport3->ItemIndex(); }
void TFkorvane::RGrateClick() { S.Rate = RGrate->ItemIndex(); }

void TFkorvane::CuteButton28Click() {}
void TFkorvane::CuteButton29Click() {}
void TFkorvane::CuteButton58Click() {}
void TFkorvane::CuteButton61Click() {}
void TFkorvane::CuteButton2Click() {}

void TFkorvane::CuteButton1Click() {}
void TFkorvane::CuteButton3Click() {}
void TFkorvane::Timer2Timer() {}

void TFkorvane::TabSheet1Show() { Timer2->setEnabled(false); }
void TFkorvane::TabSheet3Show() { Timer2->setEnabled(false); }
void TFkorvane::TabSheet2Show() {}
void TFkorvane::TabSheet4Show() {}

void TFkorvane::Timer1Timer() {}
