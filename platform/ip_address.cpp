#include "platform/ip_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <charconv>
#include <cstring>

namespace platform {
namespace {

std::string Ipv4Text(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET, &address, text, sizeof text) ? text : "";
}

std::string Ipv6Text(const in6_addr& address) {
    if (IN6_IS_ADDR_V4MAPPED(&address)) {
        in_addr v4{};
        std::memcpy(&v4, address.s6_addr + 12, 4);
        return Ipv4Text(v4);
    }
    char text[INET6_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET6, &address, text, sizeof text) ? text : "";
}

}  // namespace

std::optional<std::string> CanonicalIpAddress(std::string_view text) {
    // inet_pton wants a terminated string; an address is short.
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return std::nullopt;
    const std::string copy(text);
    in_addr v4{};
    if (inet_pton(AF_INET, copy.c_str(), &v4) == 1) return Ipv4Text(v4);
    in6_addr v6{};
    if (inet_pton(AF_INET6, copy.c_str(), &v6) == 1) return Ipv6Text(v6);
    return std::nullopt;
}

std::string SocketAddressText(const void* socketAddress) {
    if (socketAddress == nullptr) return "";
    sa_family_t family = 0;
    std::memcpy(&family, static_cast<const char*>(socketAddress) + offsetof(sockaddr, sa_family),
                sizeof family);
    if (family == AF_INET) {
        sockaddr_in address{};
        std::memcpy(&address, socketAddress, sizeof address);
        return Ipv4Text(address.sin_addr);
    }
    if (family == AF_INET6) {
        sockaddr_in6 address{};
        std::memcpy(&address, socketAddress, sizeof address);
        return Ipv6Text(address.sin6_addr);
    }
    return "";
}

std::optional<BindAddress> MakeBindAddress(std::string_view ip, uint16_t port) {
    if (ip.empty() || ip.size() >= INET6_ADDRSTRLEN) return std::nullopt;
    const std::string copy(ip);
    BindAddress out;
    sockaddr_in v4{};
    if (inet_pton(AF_INET, copy.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        std::memcpy(out.bytes, &v4, sizeof v4);
        out.length = sizeof v4;
        return out;
    }
    sockaddr_in6 v6{};
    if (inet_pton(AF_INET6, copy.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        std::memcpy(out.bytes, &v6, sizeof v6);
        out.length = sizeof v6;
        out.ipv6 = true;
        return out;
    }
    return std::nullopt;
}

std::optional<HostPort> ParseIpPort(std::string_view text) {
    std::string_view host, digits;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find("]:");
        if (close == text.npos) return std::nullopt;
        host = text.substr(1, close - 1);
        digits = text.substr(close + 2);
        if (host.find(':') == host.npos) return std::nullopt;  // brackets only for IPv6
    } else {
        const size_t colon = text.find(':');
        if (colon == text.npos || text.find(':', colon + 1) != text.npos) return std::nullopt;
        host = text.substr(0, colon);
        digits = text.substr(colon + 1);
    }
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || digits.size() > 5 || error != std::errc() ||
        end != digits.data() + digits.size() || value > 65535) {
        return std::nullopt;
    }
    std::optional<std::string> address = CanonicalIpAddress(host);
    if (!address) return std::nullopt;
    return HostPort{*address, static_cast<uint16_t>(value)};
}

std::string UrlHost(const std::string& address) {
    return address.find(':') == std::string::npos ? address : "[" + address + "]";
}

}  // namespace platform
