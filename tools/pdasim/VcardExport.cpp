#include "VcardExport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Cp936Converter.h"
#include "WholeFile.h"

namespace {

constexpr size_t MAX_LINE_OCTETS = 75;
const char LINE_END[] = "\r\n";
const char FOLD[] = "\r\n ";

// Backslash escapes of a text value; CR LF, a lone LF and a lone CR are
// each one newline.
std::string EscapeText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t k = 0; k < text.size(); ++k) {
        char c = text[k];
        switch (c) {
        case '\\': out += "\\\\"; break;
        case ',': out += "\\,"; break;
        case ';': out += "\\;"; break;
        case '\r':
            if (k + 1 < text.size() && text[k + 1] == '\n') ++k;
            out += "\\n";
            break;
        case '\n': out += "\\n"; break;
        default: out += c; break;
        }
    }
    return out;
}

// Octets from `k` that must stay on one line: an escape pair, or a UTF-8
// character with the continuation bytes that follow its lead byte.
size_t UnbreakableLength(const std::string& line, size_t k)
{
    if (line[k] == '\\') return k + 1 < line.size() ? 2 : 1;
    return Utf8CharacterLength(line, k);
}

// The content line with its line end, folded so that no line exceeds
// MAX_LINE_OCTETS (a continuation's leading space counts).
std::string FoldLine(const std::string& line)
{
    std::string out;
    size_t used = 0;
    for (size_t k = 0; k < line.size();) {
        size_t n = UnbreakableLength(line, k);
        if (used > 0 && used + n > MAX_LINE_OCTETS) {
            out += FOLD;
            used = 1;
        }
        out.append(line, k, n);
        used += n;
        k += n;
    }
    return out + LINE_END;
}

void AddProperty(std::string& card, const char* nameAndParameters, const std::string& value)
{
    card += FoldLine(nameAndParameters + value);
}

// A single-text property, left out when the text is empty.
void AddTextProperty(std::string& card, const char* nameAndParameters, const std::string& text)
{
    if (!text.empty()) AddProperty(card, nameAndParameters, EscapeText(text));
}

std::string Organization(const std::string& company, const std::string& department)
{
    std::string value = EscapeText(company);
    if (!department.empty()) value += ";" + EscapeText(department);
    return value;
}

}  // namespace

std::string RecordVcard(const RecordTexts& f)
{
    std::string card = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    // FN and N are required, so they stand even for an empty name. The
    // device holds the name as one text; it all goes to the family name.
    AddProperty(card, "FN:", EscapeText(f[FIELD_NAME]));
    AddProperty(card, "N:", EscapeText(f[FIELD_NAME]) + ";;;;");
    if (!f[FIELD_COMPANY].empty() || !f[FIELD_DEPARTMENT].empty())
        AddProperty(card, "ORG:", Organization(f[FIELD_COMPANY], f[FIELD_DEPARTMENT]));
    AddTextProperty(card, "TEL;TYPE=FAX:", f[FIELD_FAX]);
    AddTextProperty(card, "TEL;TYPE=CELL:", f[FIELD_MOBILE]);
    AddTextProperty(card, "TEL;TYPE=HOME:", f[FIELD_HOME_PHONE]);
    AddTextProperty(card, "TEL;TYPE=WORK:", f[FIELD_WORK_PHONE]);
    AddTextProperty(card, "EMAIL;TYPE=INTERNET:", f[FIELD_EMAIL]);
    // The address is one text too: the street component holds it.
    if (!f[FIELD_ADDRESS].empty()) AddProperty(card, "ADR:", ";;" + EscapeText(f[FIELD_ADDRESS]) + ";;;;");
    AddTextProperty(card, "NOTE:", f[FIELD_NOTES]);
    return card + "END:VCARD\r\n";
}

VcardExport::VcardExport(std::string path, Report report) : path_(std::move(path)), report_(std::move(report)) {}

bool VcardExport::Write()
{
    const int error = ReplaceFileWhole(path_, cards_);
    if (error == 0) return true;
    // Once is enough: the device goes on storing and every later record
    // tries the whole file again.
    if (!reported_ && report_) {
        reported_ = true;
        report_("cannot write the vCard file " + path_ + ": " + std::strerror(error) +
                " (later failures are not shown)");
    }
    return false;
}

bool VcardExport::AddRecord(const uint8_t* data, size_t length)
{
    const auto fields = SplitRecordPayload(data, length);
    RecordTexts texts;
    for (size_t k = 0; k < fields.size(); ++k)
        texts[k] = Cp936ToUtf8(fields[k]);
    return AddFields(texts);
}

bool VcardExport::AddFields(const RecordTexts& utf8Fields)
{
    cards_ += RecordVcard(utf8Fields);
    ++cardCount_;
    return Write();
}
