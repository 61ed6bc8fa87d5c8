// The record's fields as the tools show them: a field's name with the code
// that fills it, and the table as JSON lines for scripts (the vCard reader
// and the demo's listing read it rather than keeping copies).
#pragma once

#include <string>

// The name with the code that fills the field, e.g. "fax (13)"; the name
// alone where no code does.
std::string RecordFieldLabel(int field);
// One line per field, in field order:
// {"field":N,"name":"...","code":"..","checked":false}; "checked" fields
// take only a value that passes the e-mail test.
std::string RecordFieldsJson();
// One line per field code the record assembly knows:
// {"code":"..","label":"...","rule":"preferring","field":N,"name":"...","title":false},
// with "field" and "name" null for codes that fill no field (labels UTF-8);
// "title" marks the code whose value becomes the title line of the notes.
std::string FieldCodesJson();
// `utf8` escaped for a JSON string.
std::string JsonEscape(const std::string& utf8);
