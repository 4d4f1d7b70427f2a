// QorlSend --check: a diagnosis of this Windows session, one line a finding.
#pragma once

#include <windows.h>

// 0 when a message sent now would be handled and its box shown and, given a
// printer (else NULL), devCancel and addNewDev would act on it; else 1.
int CheckSession(const WCHAR* printer);
