#pragma once

#include <string>

// What a UPnP IGD says, for a CHostileRouter to serve on loopback: its root description, whose WAN
// IP connection is controlled at "/ctl", and the answers to GetExternalIPAddress.
inline std::string IgdDescription() {
    return "<?xml version=\"1.0\"?>\r\n"
           "<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device>"
           "<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>"
           "<deviceList><device>"
           "<deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType>"
           "<deviceList><device>"
           "<deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>"
           "<serviceList><service>"
           "<serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType>"
           "<serviceId>urn:upnp-org:serviceId:WANIPConn1</serviceId>"
           "<controlURL>/ctl</controlURL><eventSubURL>/evt</eventSubURL>"
           "<SCPDURL>/scpd.xml</SCPDURL>"
           "</service></serviceList></device></deviceList></device></deviceList>"
           "</device></root>\r\n";
}

// The SOAP envelope of a GetExternalIPAddress answer around `inner`.
inline std::string SoapAnswer(const std::string& inner) {
    return "<?xml version=\"1.0\"?>\r\n"
           "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
           "<u:GetExternalIPAddressResponse "
           "xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">" +
           inner + "</u:GetExternalIPAddressResponse></s:Body></s:Envelope>\r\n";
}

inline std::string ExternalAddressAnswer(const std::string& address) {
    return SoapAnswer("<NewExternalIPAddress>" + address + "</NewExternalIPAddress>");
}
