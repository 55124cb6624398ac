#include "lookup/form.h"

#include "platform/hex_text.h"

namespace lookup {
namespace {

bool IsName(std::string_view name) {
    if (name.empty() || name.size() > kMaxFieldName) return false;
    for (char c : name) {
        const bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) return false;
    }
    return true;
}

bool Decode(std::string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c != '%') {
            out += c;
        } else {
            if (i + 2 >= text.size()) return false;
            const int high = platform::HexDigitValue(text[i + 1]);
            const int low = platform::HexDigitValue(text[i + 2]);
            if (high < 0 || low < 0) return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        }
    }
    return true;
}

}  // namespace

bool ParseForm(std::string_view body, std::vector<FormField>& out, std::string& reason) {
    std::vector<FormField> fields;
    while (!body.empty()) {
        const size_t amp = body.find('&');
        const std::string_view part = body.substr(0, amp);
        body.remove_prefix(amp == body.npos ? body.size() : amp + 1);
        if (part.empty()) continue;
        if (fields.size() == kMaxFormFields) {
            reason = "too many fields";
            return false;
        }
        const size_t equals = part.find('=');
        if (equals == part.npos) {
            reason = "a field without \"=\"";
            return false;
        }
        FormField field;
        field.name = std::string(part.substr(0, equals));
        if (!IsName(field.name)) {
            reason = "a field name that is not one";
            return false;
        }
        if (!Decode(part.substr(equals + 1), field.value)) {
            reason = "bad percent-encoding in " + field.name;
            return false;
        }
        if (FindField(fields, field.name)) {
            reason = field.name + " given twice";
            return false;
        }
        fields.push_back(std::move(field));
    }
    out = std::move(fields);
    return true;
}

const std::string* FindField(const std::vector<FormField>& fields, std::string_view name) {
    for (const FormField& f : fields) {
        if (f.name == name) return &f.value;
    }
    return nullptr;
}

}  // namespace lookup
