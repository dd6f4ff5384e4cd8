// What the engine reads of a gateway's answers and a router's pages about its WAN address:
// ParseExternalAddressText (the address text of a UPnP answer), CrackIgdUrl (root description and
// control URLs an IGD names), the SSDP answer's LOCATION, the WAN connection of a root description,
// the SOAP answer, the NAT-PMP datagram, CPageWanNote (a status page that shows the WAN address)
// and the diagnosis built from them.
//
// Input: bytes 0-3 are the router's LAN address, bytes 4-7 a public address (big-endian); the rest
// is the text, read as an answer, as a URL, as a datagram and as a page.
//
// Invariants: an address text passes exactly when the C library's inet_pton takes it (white space
// around it aside), or it is empty; its value is 0 only for no address, and it prints back as it
// stood. A URL passes only when it is "http://" and a dotted address of a usable host, plainly
// printable and short; the host it gives is that address. A WAN connection's service type is a
// WAN IP or PPP connection's, of letters, digits and ":.-_" only; an address a SOAP answer holds
// stood in it. A NAT-PMP datagram counts only with version 0 and opcode 128, and gives an address
// only with result 0 and twelve bytes. A page note is an address the page shows, the provider's
// (DS-Lite, shared) or private, and never a private one of the router's own /24. A diagnosis names
// the WAN address it explains, and is empty only for a public WAN address that is the public one.

#include <arpa/inet.h>

#include "FuzzCheck.h"
#include "core/gateway/Gateway.h"
#include "core/gateway/NatPmp.h"
#include "core/gateway/UpnpIgd.h"
#include "core/gateway/WanAddress.h"

namespace {

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
}

void CheckAddressText(std::string_view text) {
    const std::optional<std::uint32_t> value = ParseExternalAddressText(text);
    const std::string_view trimmed = Trimmed(text);
    in_addr expected{};
    const bool bLibrary = trimmed.find('\0') == std::string_view::npos &&
                          inet_pton(AF_INET, std::string(trimmed).c_str(), &expected) == 1;
    FUZZ_CHECK(value.has_value() == (trimmed.empty() || bLibrary));
    if (value && !trimmed.empty()) {
        FUZZ_CHECK(*value == ntohl(expected.s_addr));
        FUZZ_CHECK(Dotted(*value) == trimmed);
    }
    if (value && *value == 0) {
        FUZZ_CHECK(trimmed.empty() || trimmed == "0.0.0.0");
    }
}

void CheckUrl(std::string_view url) {
    std::uint32_t host = 0x5A5A5A5Au;
    if (!CrackIgdUrl(url, &host)) {
        FUZZ_CHECK(host == 0x5A5A5A5Au);
        return;
    }
    FUZZ_CHECK(url.size() <= 255);
    FUZZ_CHECK(url.substr(0, 7) == "http://" || url.substr(0, 7) == "HTTP://" ||
               (url.size() >= 7 && (url[0] | 0x20) == 'h' && (url[1] | 0x20) == 't' &&
                (url[2] | 0x20) == 't' && (url[3] | 0x20) == 'p' && url.substr(4, 3) == "://"));
    for (const char c : url) {
        FUZZ_CHECK(static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7F);
    }
    FUZZ_CHECK(host != 0);
    const std::string dotted = Dotted(host);
    FUZZ_CHECK(url.substr(7, dotted.size()) == dotted);
    const std::string_view after = url.substr(7 + dotted.size());
    FUZZ_CHECK(after.empty() || after.front() == ':' || after.front() == '/');
}

void CheckAnswers(std::string_view text) {
    if (const std::optional<std::string> location = SsdpLocation(text)) {
        FUZZ_CHECK(text.find(*location) != std::string_view::npos);
    }
    if (const std::optional<WanConnection> wan = FindWanConnection(text, "http://192.0.2.1/")) {
        const std::string& type = wan->serviceType;
        FUZZ_CHECK(type.starts_with("urn:schemas-upnp-org:service:WANIPConnection:") ||
                   type.starts_with("urn:schemas-upnp-org:service:WANPPPConnection:"));
        for (const char c : type) {
            FUZZ_CHECK((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == ':' || c == '.' || c == '-' || c == '_');
        }
    }
    for (const long status : {200L, 500L}) {
        const SoapReply reply = ParseSoapReply(status, text);
        FUZZ_CHECK(reply.kind != SoapReply::Kind::Address ||
                   (status == 200 && text.find(reply.text) != std::string_view::npos));
        FUZZ_CHECK(reply.code >= 0);
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const NatPmpReply reply = ParseNatPmpReply(bytes, text.size());
    if (reply.kind != NatPmpReply::Kind::Malformed) {
        FUZZ_CHECK(text.size() >= 8 && bytes[0] == 0 && bytes[1] == 128);
    }
    if (reply.kind == NatPmpReply::Kind::Address) {
        FUZZ_CHECK(text.size() >= 12 && bytes[2] == 0 && bytes[3] == 0);
        FUZZ_CHECK(reply.address == ReadHost(bytes + 8));
    }
}

void CheckNote(std::uint32_t router, std::string_view page, std::uint32_t publicAddress) {
    CPageWanNote note;
    note.Clear(router);
    note.Look(page);
    const std::uint32_t noted = note.Address();
    if (noted == 0) {
        return;
    }
    const WanKind kind = ClassifyWanAddress(noted);
    FUZZ_CHECK(kind == WanKind::DsLite || kind == WanKind::Shared || kind == WanKind::Private);
    FUZZ_CHECK(kind != WanKind::Private || (noted >> 8) != (router >> 8));
    FUZZ_CHECK(page.find(Dotted(noted)) != std::string_view::npos);
    const std::string diagnosis = DiagnoseRouterWan({true, noted}, publicAddress);
    FUZZ_CHECK(diagnosis.find(Dotted(noted)) != std::string::npos);
}

void CheckDiagnosis(std::uint32_t wan, std::uint32_t publicAddress) {
    const std::string diagnosis = DiagnoseRouterWan({true, wan}, publicAddress);
    const bool bPublic = wan != 0 && ClassifyWanAddress(wan) == WanKind::Public;
    FUZZ_CHECK(diagnosis.empty() == (bPublic && (publicAddress == 0 || publicAddress == wan)));
    if (!diagnosis.empty() && publicAddress != 0) {
        FUZZ_CHECK(diagnosis.find(Dotted(publicAddress)) != std::string::npos);
    }
    FUZZ_CHECK(DiagnoseRouterWan({false, wan}, publicAddress).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) {
        return 0;
    }
    const std::uint32_t router = ReadHost(data);
    const std::uint32_t publicAddress = ReadHost(data + 4);
    const std::string_view text = AsText(data + 8, size - 8);
    CheckAddressText(text);
    CheckUrl(text);
    CheckAnswers(text);
    CheckNote(router, text, publicAddress);
    CheckDiagnosis(router, publicAddress);
    return 0;
}
