// A form body ("application/x-www-form-urlencoded") read without trust: NAME=VALUE parts
// joined by "&", values percent-encoded ("%XX"; "+" is a blank).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lookup {

inline constexpr size_t kMaxFormFields = 32;
inline constexpr size_t kMaxFieldName = 32;

struct FormField {
    std::string name;
    std::string value;  // decoded
};

// Empty parts ("a=1&&b=2") are skipped. Refused, with a one-line reason: more than
// kMaxFormFields parts, a part without "=", a name that is empty, longer than
// kMaxFieldName or not of letters, digits and "_", a "%" not followed by two hexadecimal
// digits, a name given twice.
bool ParseForm(std::string_view body, std::vector<FormField>& out, std::string& reason);

// The value of `name`, or null.
const std::string* FindField(const std::vector<FormField>& fields, std::string_view name);

}  // namespace lookup
