// The contact record's fields, defined once: where each stands in the
// payload the device receives, the name people read, and the field codes of
// the record file that feed it. The record assembly works from this table,
// and so does every tool (pdasim, recfile, and the vCard reader through
// `recfile fields`).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// The payload's texts, in the order the device receives them.
enum RecordField : int {
    FIELD_NAME,
    FIELD_UNUSED,  // no code feeds it: always empty
    FIELD_COMPANY,
    FIELD_DEPARTMENT,
    FIELD_FAX,
    FIELD_MOBILE,
    FIELD_HOME_PHONE,
    FIELD_WORK_PHONE,
    FIELD_EMAIL,  // only a plausible e-mail address reaches it
    FIELD_ADDRESS,
    FIELD_NOTES,  // later values of the codes, the title line and every note
    RECORD_FIELD_COUNT
};
constexpr int NO_FIELD = -1;

// What people read for each field, in field order.
inline constexpr const char* RECORD_FIELD_NAMES[RECORD_FIELD_COUNT] = {
    "name",       "(always empty)", "company", "department", "fax",   "mobile",
    "home phone", "work phone",     "e-mail",  "address",    "notes",
};

// How the values of one field code reach the record.
enum class CodeRule {
    // The first value is kept; a later one that is not plain ASCII takes its
    // place and the value kept before goes to the notes (a local-script name
    // wins over a transliteration); later ASCII values go to the notes.
    PREFERRING,
    // The first value is kept; later values go to the notes.
    FIRST_WINS,
    // Every value is a line of the notes.
    NOTES_ONLY,
};

struct FieldCode {
    const char* code;  // two digits, as the record file writes them
    CodeRule rule;
    int field;          // the field the kept value fills; NO_FIELD for none
    const char* label;  // CP936; the label tools write with it, empty for codes they never write
};

// Every code the record assembly knows; entries with other codes are passed over.
inline constexpr FieldCode FIELD_CODES[] = {
    {"00", CodeRule::PREFERRING, FIELD_NAME, "\xD0\xD5\xC3\xFB"},                        // 姓名
    {"01", CodeRule::PREFERRING, NO_FIELD, "\xB3\xC6\xCE\xBD"},                          // 称谓, the title
    {"10", CodeRule::PREFERRING, FIELD_MOBILE, "\xCA\xD6\xBB\xFA"},                      // 手机
    {"11", CodeRule::PREFERRING, FIELD_HOME_PHONE, "\xD7\xA1\xD5\xAC\xB5\xE7\xBB\xB0"},  // 住宅电话
    {"12", CodeRule::PREFERRING, FIELD_WORK_PHONE, "\xB0\xEC\xB9\xAB\xB5\xE7\xBB\xB0"},  // 办公电话
    {"13", CodeRule::PREFERRING, FIELD_FAX, "\xB4\xAB\xD5\xE6"},                         // 传真
    {"15", CodeRule::FIRST_WINS, FIELD_COMPANY, "\xB9\xAB\xCB\xBE"},                     // 公司
    {"16", CodeRule::FIRST_WINS, FIELD_DEPARTMENT, "\xB2\xBF\xC3\xC5"},                  // 部门
    {"60", CodeRule::FIRST_WINS, FIELD_ADDRESS, "\xB5\xD8\xD6\xB7"},                     // 地址
    {"61", CodeRule::FIRST_WINS, FIELD_EMAIL, "\xB5\xE7\xD7\xD3\xD3\xCA\xBC\xFE"},       // 电子邮件
    // The first values of these only mark the code as seen.
    {"14", CodeRule::FIRST_WINS, NO_FIELD, ""},
    {"50", CodeRule::FIRST_WINS, NO_FIELD, ""},
    {"51", CodeRule::FIRST_WINS, NO_FIELD, ""},
    {"80", CodeRule::NOTES_ONLY, NO_FIELD, "\xB1\xB8\xD7\xA2"},  // 备注
};
constexpr size_t FIELD_CODE_COUNT = sizeof FIELD_CODES / sizeof FIELD_CODES[0];
// The code whose kept value becomes the notes line "label:value" (the title).
constexpr size_t TITLE_CODE = 1;
static_assert(FIELD_CODES[TITLE_CODE].code[1] == '1' && FIELD_CODES[TITLE_CODE].field == NO_FIELD, "01 is the title");

// The index in FIELD_CODES of `code`, or -1 when the assembly does not know it.
int FindFieldCode(const char* code);
// The code whose kept value fills `field`, or nullptr when none does.
const FieldCode* CodeOfField(int field);

// True when every byte is below 0x80; the empty text is ASCII.
bool IsAsciiText(const char* text);
// A plausible e-mail address: ASCII, five bytes or more, exactly one at sign
// that is neither first nor last nor followed by a full stop, and no full
// stop first or last.
bool IsEmailAddress(const char* text);
// Whether `field` keeps `text`: the e-mail field only a plausible e-mail
// address, every other field any text. The one statement of that rule.
bool FieldTakes(int field, const char* text);

// The texts of a record payload: each up to its NUL, missing ones empty; a
// last text without its NUL is read to the end, and whatever follows the
// notes' NUL belongs to no field.
std::array<std::string, RECORD_FIELD_COUNT> SplitRecordPayload(const uint8_t* data, size_t length);
