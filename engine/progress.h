// Progress reporting: the engine formats its status texts and hands them to a
// callback that the caller supplies (the GUI shows them in the status line, the
// command line draws a progress line, tests record them).
#ifndef NUBO_ENGINE_PROGRESS_H_
#define NUBO_ENGINE_PROGRESS_H_

#include <functional>
#include <string>

namespace nubo {

// Called with each finished status text, always on the thread that called the
// engine function, in the order the texts are produced. May be empty.
using StatusCallback = std::function<void(const std::string& text)>;

}  // namespace nubo

#endif  // NUBO_ENGINE_PROGRESS_H_
