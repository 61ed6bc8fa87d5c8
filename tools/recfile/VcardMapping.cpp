#include "VcardMapping.h"

#include <cstdint>
#include <map>

#include "Cp936Converter.h"
#include "RecordFields.h"

const char MAPPED_PROPERTIES[] = "FN,N,TITLE,TEL,EMAIL,ORG,ADR,NOTE";
const char LENIENTLY_READ_PROPERTIES[] = "X-ABLABEL";

namespace {

// A number whose types name no kind the record file knows: under the mobile
// code, with a label of its own (电话, "telephone").
const char OTHER_PHONE_LABEL[] = "\xB5\xE7\xBB\xB0";

// Telephone types in order of precedence: a work fax is a fax, a home mobile a mobile.
const struct {
    const char* type;
    int field;
} PHONE_TYPES[] = {{"FAX", FIELD_FAX},       {"CELL", FIELD_MOBILE},     {"MOBILE", FIELD_MOBILE},
                   {"IPHONE", FIELD_MOBILE}, {"HOME", FIELD_HOME_PHONE}, {"WORK", FIELD_WORK_PHONE}};
// Words of a grouped label (item1.X-ABLabel) that say what kind of number it is.
const struct {
    const char* word;
    int field;
} PHONE_LABEL_WORDS[] = {{"fax", FIELD_FAX},
                         {"\xE4\xBC\xA0\xE7\x9C\x9F", FIELD_FAX},  // 传真
                         {"mobile", FIELD_MOBILE},
                         {"cell", FIELD_MOBILE},
                         {"\xE6\x89\x8B\xE6\x9C\xBA", FIELD_MOBILE},  // 手机
                         {"home", FIELD_HOME_PHONE},
                         {"\xE4\xBD\x8F\xE5\xAE\x85", FIELD_HOME_PHONE},  // 住宅
                         {"\xE5\xAE\xB6", FIELD_HOME_PHONE},              // 家
                         {"work", FIELD_WORK_PHONE},
                         {"\xE5\x8A\x9E\xE5\x85\xAC", FIELD_WORK_PHONE}};  // 办公

// Properties that say nothing about the contact and are not counted as left out.
bool IsStructure(const std::string& name)
{
    return name == "VERSION" || name == "BEGIN" || name == "END";
}

uint32_t CodePointAt(const std::string& text, size_t at, size_t width)
{
    uint32_t value = static_cast<unsigned char>(text[at]);
    if (width > 1) {
        value &= 0x3F >> (width - 1);
        for (size_t k = 1; k < width; ++k)
            value = (value << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3F);
    }
    return value;
}

// The characters a card's texts are trimmed of at both ends: white space
// and the separators of Unicode.
bool IsSpace(uint32_t c)
{
    return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string Trimmed(const std::string& text)
{
    size_t begin = text.size(), end = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t width = Utf8CharacterLength(text, at);
        if (!IsSpace(CodePointAt(text, at, width))) {
            if (begin == text.size()) begin = at;
            end = at + width;
        }
        at += width;
    }
    return begin < end ? text.substr(begin, end - begin) : std::string();
}

// Han, kana or hangul anywhere in the text: such names and addresses are
// written largest part first and without spaces. Müller and García are not.
bool IsCjk(const std::string& text)
{
    for (size_t at = 0; at < text.size();) {
        const size_t width = Utf8CharacterLength(text, at);
        const uint32_t c = CodePointAt(text, at, width);
        if ((c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) || (c >= 0xF900 && c <= 0xFAFF) ||
            (c >= 0x20000 && c <= 0x3FFFF))
            return true;
        at += width;
    }
    return false;
}

std::string LineBreaksAsCrLf(const std::string& text)
{
    std::string out;
    for (size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '\r' || text[k] == '\n') {
            out += "\r\n";
            if (text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n') ++k;
        } else {
            out += text[k];
        }
    }
    return out;
}

std::string AsciiLower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The non-empty texts, joined by `separator`.
std::string JoinedNonEmpty(std::initializer_list<const std::string*> parts, const char* separator)
{
    std::string out;
    for (const std::string* part : parts)
        if (!part->empty()) out += (out.empty() ? "" : separator) + *part;
    return out;
}

// The value's components, as many as `count` (missing ones empty).
std::vector<std::string> Parts(const VcardProperty& prop, size_t count)
{
    std::vector<std::string> parts = prop.values;
    if (parts.size() < count) parts.resize(count);
    return parts;
}

std::string Text(const VcardProperty& prop)
{
    return prop.values.empty() ? std::string() : prop.values[0];
}

// N's parts as one text: CJK names family first without spaces, others given first.
std::string JoinedName(const VcardProperty& n)
{
    const std::vector<std::string> p = Parts(n, 5);
    const std::string &family = p[0], &given = p[1], &additional = p[2], &suffix = p[4];
    if (IsCjk(family + given + additional)) return family + given + additional;
    return JoinedNonEmpty({&given, &additional, &family, &suffix}, " ");
}

// ADR's seven parts as one text, in the order the address is read.
std::string JoinedAddress(const VcardProperty& adr)
{
    const std::vector<std::string> p = Parts(adr, 7);
    const std::string &box = p[0], &extended = p[1], &street = p[2], &city = p[3], &region = p[4], &code = p[5],
                      &country = p[6];
    if (IsCjk(street + extended + box + city + region + country)) {
        const std::string text = country + region + city + street + extended + box;
        return text + (!code.empty() && !text.empty() ? " " + code : code);
    }
    return JoinedNonEmpty({&street, &extended, &box, &city, &region, &code, &country}, ", ");
}

const FieldCode& CodeFilling(int field)
{
    return *CodeOfField(field);
}

const FieldCode& NotesCode()
{
    for (const FieldCode& code : FIELD_CODES)
        if (code.rule == CodeRule::NOTES_ONLY) return code;
    return FIELD_CODES[FIELD_CODE_COUNT - 1];
}

// The code and label of a number: by its types, else by the words of its group's label.
std::pair<const char*, const char*> PhoneCode(const VcardProperty& tel,
                                              const std::map<std::string, std::string>& labels)
{
    for (const auto& kind : PHONE_TYPES)
        for (const std::string& type : tel.types)
            if (type == kind.type) return {CodeFilling(kind.field).code, CodeFilling(kind.field).label};
    const auto label = tel.group.empty() ? labels.end() : labels.find(tel.group);
    if (label != labels.end()) {
        const std::string lower = AsciiLower(label->second);
        for (const auto& word : PHONE_LABEL_WORDS)
            if (lower.find(word.word) != std::string::npos)
                return {CodeFilling(word.field).code, CodeFilling(word.field).label};
    }
    return {CodeFilling(FIELD_MOBILE).code, OTHER_PHONE_LABEL};
}

std::string PhoneNumber(const std::string& text)
{
    const std::string number = Trimmed(text);
    return AsciiLower(number.substr(0, 4)) == "tel:" ? number.substr(4) : number;
}

bool HasText(const std::vector<VcardProperty>& card, const char* name)
{
    for (const VcardProperty& prop : card)
        if (prop.name == name && !Trimmed(Text(prop)).empty()) return true;
    return false;
}

}  // namespace

std::vector<MappedEntry> MapCard(const std::vector<VcardProperty>& card, std::vector<std::string>& leftOut)
{
    std::map<std::string, std::string> groupLabels;
    for (const VcardProperty& prop : card)
        if (!prop.group.empty() && prop.name == "X-ABLABEL") groupLabels[prop.group] = Text(prop);
    // Groups whose number came in: their label named its kind. The label of
    // an e-mail, an address or a URL is lost and counted as left out.
    std::map<std::string, bool> numberGroups;
    const bool hasName = HasText(card, "FN");
    const bool hasTitle = HasText(card, "TITLE");
    const FieldCode& title = FIELD_CODES[TITLE_CODE];
    const FieldCode& notes = NotesCode();
    std::vector<MappedEntry> entries;
    std::vector<const VcardProperty*> left;

    auto add = [&](const char* code, const char* label, const VcardProperty& prop, const std::string& value) {
        const std::string kept = LineBreaksAsCrLf(Trimmed(value));
        if (kept.empty()) return;
        entries.push_back({code, label, prop.line, prop.written, kept});
        if (!prop.group.empty() && prop.name == "TEL") numberGroups[prop.group] = true;
    };
    auto keep = [&](int field, const VcardProperty& prop, const std::string& value) {
        add(CodeFilling(field).code, CodeFilling(field).label, prop, value);
    };

    for (const VcardProperty& prop : card) {
        const std::string& name = prop.name;
        if (name == "FN") {
            keep(FIELD_NAME, prop, Text(prop));
        } else if (name == "N") {
            // The name comes from FN when there is one; N then only lends its
            // honorific prefix as the form of address.
            if (!hasName) keep(FIELD_NAME, prop, JoinedName(prop));
            if (!hasTitle) add(title.code, title.label, prop, Parts(prop, 5)[3]);
        } else if (name == "TITLE") {
            add(title.code, title.label, prop, Text(prop));
        } else if (name == "TEL") {
            const auto [code, label] = PhoneCode(prop, groupLabels);
            add(code, label, prop, PhoneNumber(Text(prop)));
        } else if (name == "EMAIL") {
            keep(FIELD_EMAIL, prop, Text(prop));
        } else if (name == "ORG") {
            const std::vector<std::string> parts = Parts(prop, 1);
            keep(FIELD_COMPANY, prop, parts[0]);
            std::string department;
            for (size_t k = 1; k < parts.size(); ++k)
                if (!parts[k].empty()) department += (department.empty() ? "" : " ") + parts[k];
            keep(FIELD_DEPARTMENT, prop, department);
        } else if (name == "ADR") {
            keep(FIELD_ADDRESS, prop, JoinedAddress(prop));
        } else if (name == "NOTE") {
            add(notes.code, notes.label, prop, Text(prop));
        } else if (!IsStructure(name)) {
            left.push_back(&prop);
        }
    }
    for (const VcardProperty* prop : left)
        if (!(prop->name == "X-ABLABEL" && numberGroups.count(prop->group) > 0)) leftOut.push_back(prop->name);
    return entries;
}

std::string CardName(const std::vector<VcardProperty>& card)
{
    for (const char* wanted : {"FN", "N"}) {
        for (const VcardProperty& prop : card) {
            if (prop.name != wanted || !prop.read) continue;
            const std::string name = Trimmed(prop.name == "FN" ? Text(prop) : JoinedName(prop));
            if (!name.empty() && name.find("\xEF\xBF\xBD") == std::string::npos) return name;
        }
    }
    return "";
}
