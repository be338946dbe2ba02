#pragma once

#include <string>

namespace viewer {

// What the thread handlers need of the web view. Addresses are code-page texts.
class BrowserView {
public:
    virtual ~BrowserView() = default;

    // Starts loading the address and returns at once; the page loads while events run.
    virtual void Navigate(const std::string &url) = 0;
    // While a document-ready event is handled: that document's address; otherwise the
    // view's current location.
    virtual std::string Url() const = 0;
    // Navigates to the address; the empty text navigates to "about:blank".
    virtual void SetUrl(const std::string &url) = 0;
    // The engine's last status text: the target of the link under the pointer, or empty.
    virtual std::string StatusText() const = 0;
};

}  // namespace viewer
