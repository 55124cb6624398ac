// IP addresses as text and as the socket addresses that servers bind to and report, so
// that a server module never handles the system's address structures itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The canonical text of a literal IPv4 or IPv6 address ("127.0.0.1", "::1"); an IPv6
// address that carries an IPv4 one ("::ffff:10.0.0.1") reads as the IPv4 address, so that
// one host has one text whichever socket it came through. Nothing for anything else (host
// names, ports, brackets, blanks).
std::optional<std::string> CanonicalIpAddress(std::string_view text);

// The canonical address text of a socket address given by a library (a `struct sockaddr`
// of family AF_INET or AF_INET6); "" for another family or none.
std::string SocketAddressText(const void* socketAddress);

// A socket address to bind to, built from a literal address and a port.
struct BindAddress {
    alignas(8) unsigned char bytes[128] = {};
    unsigned length = 0;
    bool ipv6 = false;
    const void* data() const { return bytes; }
};
std::optional<BindAddress> MakeBindAddress(std::string_view ip, uint16_t port);

// "ADDR:PORT" or "[IPV6]:PORT" with a literal address and a decimal port from 0 to 65535;
// the address comes back canonical. Nothing when the text is not of that form.
struct HostPort {
    std::string address;
    uint16_t port = 0;
};
std::optional<HostPort> ParseIpPort(std::string_view text);

// How a URL names a host: an IPv6 address in brackets, any other as it is.
std::string UrlHost(const std::string& address);

}  // namespace platform
