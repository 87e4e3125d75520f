#include "widgets/FollowBottom.h"

namespace trelmo {

bool showsBottom(const QScrollBar& bar) {
    return bar.value() >= bar.maximum();
}

}  // namespace trelmo
