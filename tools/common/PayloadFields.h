// What each of a record's eleven fields holds and which field code of the
// record file feeds it: the names the tools show beside the fields.
#pragma once

#include <cstddef>
#include <string>

#include "DeviceMessages.h"

struct PayloadField {
    const char* name;  // what the field holds
    const char* code;  // the field code whose first value fills it; empty when none does
    bool checked;      // the code's value reaches the field only when it passes the e-mail test
};

extern const PayloadField PAYLOAD_FIELDS[RECORD_FIELD_COUNT];

// The name with its code, e.g. "phone (13)"; the name alone without a code.
std::string PayloadFieldLabel(size_t field);
