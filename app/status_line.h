// The status line at the bottom of the main window: printf-style updates that
// show at once, so that progress is visible while a long command runs inside
// one event callback.
#ifndef NUBO_APP_STATUS_LINE_H_
#define NUBO_APP_STATUS_LINE_H_

#include <cstddef>

namespace nubo {

// Formats the text into a 512-byte buffer; when it differs from statusText,
// copies it there and shows it in the status control (when that exists)
// before returning. An equal text changes and draws nothing.
void showStatus(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The comparison and copy behind showStatus: returns true, with current
// updated, when text differs from current (a buffer of size bytes).
bool replaceStatusText(char* current, size_t size, const char* text);

}  // namespace nubo

#endif  // NUBO_APP_STATUS_LINE_H_
