#pragma once

// The suggestion POST runs on a worker thread while the GUI thread keeps dispatching events.
// The worker and the GUI thread share one record per request; a request the GUI thread has
// stopped waiting for finishes into that record alone.

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "http/form_post.h"

namespace viewer {

// How long the wait lasts without user input before it gives up.
inline constexpr std::chrono::milliseconds kSuggestionWaitBound{90000};

// The answer's text in the code page, up to its first zero byte; empty when the request
// failed, no body came, the worker could not start, or the wait gave up first.
std::string PostWhileDispatching(std::string_view url, std::string_view body);

// The answer's body as a text: UTF-8 answers converted to the code page, cut at a zero byte.
std::string ResponseText(const FormPostAnswer &answer);

// Asks every running POST to stop and waits at most `bound` for the workers to end; true when
// none is left. The application calls it on its way out, before libcurl's global cleanup.
bool StopSuggestionPosts(std::chrono::milliseconds bound);
std::size_t RunningSuggestionPosts();

// Test hooks: the client's bounds and trusted authorities, and the wait's bound.
void SetSuggestionPostOptionsForTesting(FormPostOptions options);
void SetSuggestionWaitBoundForTesting(std::chrono::milliseconds bound);

}  // namespace viewer
