#pragma once

#include <string>
#include <vector>

#include "navigation/browser_view.h"

namespace viewer::testing {

// Records where the handlers send the view; the test sets what the view reports.
class FakeBrowserView : public BrowserView {
public:
    void Navigate(const std::string &address) override { navigations.push_back(address); }
    std::string Url() const override { return url; }
    void SetUrl(const std::string &address) override { setUrls.push_back(address); }
    std::string StatusText() const override { return statusText; }

    std::string url;
    std::string statusText;
    std::vector<std::string> navigations;
    std::vector<std::string> setUrls;
};

}  // namespace viewer::testing
