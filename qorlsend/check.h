// QorlSend --check: a diagnosis of this Windows session, one line a finding.
#pragma once

// 0 when a message sent now would be handled and its box shown, else 1.
int CheckSession();
