#include "PayloadFields.h"

const PayloadField PAYLOAD_FIELDS[RECORD_FIELD_COUNT] = {
    {"name", "00", false},
    {"(always empty)", "", false},
    {"company", "15", false},
    {"department", "16", false},
    {"phone", "13", false},
    {"phone", "10", false},
    {"phone", "11", false},
    {"phone", "12", false},
    {"e-mail", "61", true},
    {"address", "60", false},
    // Later values of every code and the title line gather here.
    {"notes", "", false},
};

std::string PayloadFieldLabel(size_t field)
{
    const PayloadField& info = PAYLOAD_FIELDS[field];
    std::string label = info.name;
    if (*info.code != '\0')
        label += std::string(" (") + info.code + ")";
    return label;
}
