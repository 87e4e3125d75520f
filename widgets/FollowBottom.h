#pragma once
// Following the newest lines or rows. A view whose vertical bar stands at its end shows the
// newest content and keeps showing it while content arrives or its page changes size; a view
// the user scrolled anywhere else stays where it was. The receive pane and the byte grid
// follow this way: each wraps what changes its bar's range in followBottom().

#include <QScrollBar>
#include <utility>

namespace trelmo {

// True when `bar` stands at its end (a bar with nothing to scroll always does).
bool showsBottom(const QScrollBar& bar);

// Runs `change`, which may change the range of `bar`; a bar that stood at its end before
// stands at its new end after; one that stood elsewhere keeps its value (as far as the new
// range allows).
template <typename Change>
void followBottom(QScrollBar& bar, Change&& change) {
    const bool follow = showsBottom(bar);
    std::forward<Change>(change)();
    if (follow)
        bar.setValue(bar.maximum());
}

}  // namespace trelmo
