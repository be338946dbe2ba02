#pragma once

// "建议": asks the user for a problem and a contact and posts both to the feedback address.

#include <functional>
#include <string>
#include <string_view>

namespace viewer {

// A modal input box (the same shape as the jump box's): shows `answer` in its field under
// `caption`; on confirm stores the field's text and returns true, on cancel returns false.
using AskText = std::function<bool(std::string_view caption, std::string &answer)>;

// The address that receives suggestions, a constant of the build.
std::string_view FeedbackUrl();
// Lets a test send suggestions to a server it started itself.
void OverrideFeedbackUrlForTesting(std::string url);

// "title=" + contact + "&content=" + problem, byte for byte, nothing escaped.
std::string SuggestionBody(std::string_view contact, std::string_view problem);

// Asks, posts, and thanks the user when the answer has a body. Runs on the GUI thread; the
// window keeps handling events while the request is under way.
void SendSuggestion(const AskText &ask);

}  // namespace viewer
