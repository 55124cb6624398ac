#include "lookup/protocol.h"

#include <cctype>
#include <charconv>

#include "lookup/form.h"
#include "platform/ip_address.h"

namespace lookup {
namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// A plain decimal without sign or blanks, at most `most`.
bool ReadNumber(const std::string& text, uint64_t most, uint64_t& out) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || text.front() == '-' || error != std::errc() ||
        end != text.data() + text.size() || value > most) {
        return false;
    }
    out = value;
    return true;
}

// A count the asker wants: a plain decimal; a huge one is as good as the cap.
bool ReadWanted(const std::string* text, uint64_t& out) {
    if (!text) return true;
    if (text->empty() || text->find_first_not_of("0123456789") != std::string::npos) return false;
    out = text->size() > 18 ? UINT64_MAX : std::stoull(*text);
    return true;
}

bool ReadPort(const std::string& text, uint16_t& out) {
    uint64_t value = 0;
    if (!ReadNumber(text, 65535, value) || value == 0) return false;
    out = static_cast<uint16_t>(value);
    return true;
}

bool IsKey(const std::string& key) {
    return key.size() == 32 && key.find_first_not_of("0123456789abcdef") == key.npos;
}

bool Refuse(std::string& reason, const char* why) {
    reason = why;
    return false;
}

}  // namespace

bool IsHexDigest(std::string_view text) {
    return text.size() == 32 && text.find_first_not_of("0123456789abcdefABCDEF") == text.npos;
}

bool IsPlainUrl(std::string_view url) {
    if (url.empty() || url.size() > kMaxUrlBytes) return false;
    for (unsigned char c : url) {
        if (c <= 0x20 || c == 0x7F) return false;
    }
    return true;
}

bool ParseFileQuery(std::string_view body, FileQuery& out, std::string& reason) {
    std::vector<FormField> fields;
    if (!ParseForm(body, fields, reason)) return false;
    FileQuery query;
    const std::string* url = FindField(fields, "url");
    const std::string* md5 = FindField(fields, "md5");
    if (url) {
        if (!IsPlainUrl(*url)) return Refuse(reason, "url is not a plain URL");
        query.url = *url;
    } else if (md5) {
        if (!IsHexDigest(*md5)) return Refuse(reason, "md5 is not 32 hexadecimal digits");
        query.md5 = Lower(*md5);
    } else {
        return Refuse(reason, "neither url nor md5");
    }
    if (!ReadWanted(FindField(fields, "pc"), query.peersWanted)) {
        return Refuse(reason, "pc is not a count");
    }
    if (!ReadWanted(FindField(fields, "mc"), query.mirrorsWanted)) {
        return Refuse(reason, "mc is not a count");
    }
    if (const std::string* port = FindField(fields, "port");
        port && !ReadPort(*port, query.askerPort)) {
        return Refuse(reason, "port is not 1 to 65535");
    }
    out = std::move(query);
    return true;
}

bool ParseAnnouncement(std::string_view body, Announcement& out, std::string& reason) {
    std::vector<FormField> fields;
    if (!ParseForm(body, fields, reason)) return false;
    Announcement a;
    const std::string* key = FindField(fields, "key");
    if (!key || !IsKey(*key)) return Refuse(reason, "key is not 32 lower-case hexadecimal digits");
    a.key = *key;
    const std::string* port = FindField(fields, "port");
    if (!port || !ReadPort(*port, a.port)) return Refuse(reason, "port is not 1 to 65535");
    uint64_t number = 0;
    const std::string* length = FindField(fields, "length");
    if (!length || !ReadNumber(*length, kMaxFileLength, number)) {
        return Refuse(reason, "length is not a size up to 4 TiB");
    }
    a.length = static_cast<int64_t>(number);
    const std::string* held = FindField(fields, "held");
    if (!held || !ReadNumber(*held, static_cast<uint64_t>(a.length), number)) {
        return Refuse(reason, "held is not a count up to the length");
    }
    a.held = static_cast<int64_t>(number);
    if (const std::string* md5 = FindField(fields, "md5")) {
        if (!IsHexDigest(*md5)) return Refuse(reason, "md5 is not 32 hexadecimal digits");
        a.md5 = Lower(*md5);
    }
    if (const std::string* url = FindField(fields, "url")) {
        if (!IsPlainUrl(*url)) return Refuse(reason, "url is not a plain URL");
        a.url = *url;
    }
    if (a.md5.empty() && a.url.empty()) return Refuse(reason, "neither md5 nor url");
    if (const std::string* complete = FindField(fields, "complete")) {
        if (*complete != "0" && *complete != "1") return Refuse(reason, "complete is not 0 or 1");
        a.complete = *complete == "1";
        if (a.complete && a.held != a.length) {
            return Refuse(reason, "complete, but held is not the length");
        }
    }
    out = std::move(a);
    return true;
}

bool ParseWithdrawal(std::string_view body, Withdrawal& out, std::string& reason) {
    std::vector<FormField> fields;
    if (!ParseForm(body, fields, reason)) return false;
    Withdrawal w;
    const std::string* port = FindField(fields, "port");
    if (!port || !ReadPort(*port, w.port)) return Refuse(reason, "port is not 1 to 65535");
    if (const std::string* key = FindField(fields, "key")) {
        if (!IsKey(*key)) return Refuse(reason, "key is not 32 lower-case hexadecimal digits");
        w.key = *key;
    }
    out = std::move(w);
    return true;
}

std::string PeerSourceLine(const PeerSource& peer) {
    return "http://" + platform::UrlHost(peer.address) + ":" + std::to_string(peer.port) + "/" +
           peer.key + "\tkind=peer";
}

std::string FormatAnswer(const FileAnswer& answer) {
    std::string md5;
    for (char c : answer.md5) md5 += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string out = "Length=" + std::to_string(answer.length) +
                      "\r\nSources=" + std::to_string(answer.mirrors.size() + answer.peers.size()) +
                      "\r\nMD5=" + md5 + "\r\n\r\n";
    for (const std::string& mirror : answer.mirrors) out += mirror + "\r\n";
    for (const PeerSource& peer : answer.peers) out += PeerSourceLine(peer) + "\r\n";
    return out;
}

}  // namespace lookup
