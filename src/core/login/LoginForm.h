#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A router's login form. A page is a login page when it holds one form, and that form holds
// exactly one password input, at most one other visible text or email input (the user name) and
// otherwise only hidden inputs, check boxes and buttons. Anything else that asks for a password
// (a PPPoE or Wi-Fi key form, a password change) is a settings form, which is never submitted.
struct LoginForm {
    enum class Kind { Fixed, User, Password };
    struct Field {
        std::string name;
        std::string value;  // as it stands, for Fixed fields
        Kind kind = Kind::Fixed;
    };

    bool bPost = false;
    std::string action;         // as written, references decoded; empty: the page's own URL
    std::vector<Field> fields;  // what a browser sends, in document order

    // The form's body, or for GET its query, as a browser encodes it (form-urlencoded): hidden
    // inputs and checked boxes as they stand, the user name and the password in their inputs, the
    // first submit button's name and value.
    std::string Encode(std::string_view login, std::string_view password) const;
    // Whether `other` is the same form: its method, action and the names of its user-name and
    // password inputs, so that a page turning back into it means the session has ended.
    bool SameAs(const LoginForm& other) const;
};

// The login form of `page`, or nullopt when it is not a login page. HTML comments, scripts and
// styles are passed over; a form that scripts write is no form.
std::optional<LoginForm> FindLoginForm(std::string_view page);
