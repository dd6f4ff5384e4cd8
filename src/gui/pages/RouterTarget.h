#pragma once

#include <cstdint>
#include <string>

// The router under test, as the Status and Polling pages see it: they validate it before a test,
// read it, and lock its inputs while the test runs. The Router page is the real one.
class IRouterTarget {
public:
    virtual ~IRouterTarget() = default;

    // Pulls the inputs, reports a bad address or port (bringing the inputs forward) and saves.
    virtual bool ValidateAndSave() = 0;
    virtual void EnableControls(bool bEnable) = 0;

    // Login ("%20" rule applied by the last validation) and password as they go on the wire.
    virtual std::string LoginBytes() const = 0;
    virtual std::string PasswordBytes() const = 0;
    virtual std::uint32_t Address() const = 0;  // host order
    virtual std::int32_t Port() const = 0;
    // Whether the router is asked over https, trusted by its certificate's key.
    virtual bool Https() const { return false; }
};
