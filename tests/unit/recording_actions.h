// A StatusActions that records each call, with its arguments, in order.
#pragma once

#include <string>
#include <vector>

#include "../../status/status_actions.h"

struct RecordedCall {
    std::string operation;
    std::wstring first;
    std::wstring second;
    bool operator==(const RecordedCall& other) const
    {
        return operation == other.operation && first == other.first && second == other.second;
    }
};

// "(none)" stands for a NULL title or printer name.
extern const wchar_t* const None;

// Installs the recorder; `discoveryShowing` answers StatusWindowExists for
// the given title.
StatusActions RecordingActions(std::vector<RecordedCall>* log, const wchar_t* existingTitle);
