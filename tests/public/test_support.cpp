#include "test_support.h"

#include <cstdio>

namespace zltest {

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(v));
    return text;
}

NotifyTest::NotifyTest(std::array<const char *, 3> names, std::array<uint32_t, 3> fills) {
    for (int i = 0; i < 3; ++i) {
        canvases_[i] = std::make_unique<HostCanvas>(4, 4, fills[i]);
        receivers_[2 * i] = Receiver{{Hear}, this, std::string(names[i]) + ".refresh"};
        receivers_[2 * i + 1] = Receiver{{Hear}, this, std::string(names[i]) + ".update"};
        canvases_[i]->layer()->refreshNotifier = &receivers_[2 * i].notifier;
        canvases_[i]->layer()->updateNotifier = &receivers_[2 * i + 1].notifier;
    }
    driver_ = Receiver{{RunBody}, this, "driver"};
    trigger_.layer()->refreshNotifier = &driver_.notifier;
    trigger_.layer()->updateNotifier = &driver_.notifier;
}

NotifyTest::Heard NotifyTest::InBothChains(std::function<void()> body) {
    heard_.clear();
    body_ = std::move(body);
    RefreshLayerEx(trigger_.layer());
    UpdateLayerEx(trigger_.layer());
    return heard_;
}

int32_t ZL_CALL NotifyTest::Hear(Layer *, LayerNotifier *notifier) {
    Receiver *receiver = reinterpret_cast<Receiver *>(notifier);
    receiver->test->heard_.push_back(receiver->name);
    return 1;
}

int32_t ZL_CALL NotifyTest::RunBody(Layer *, LayerNotifier *notifier) {
    reinterpret_cast<Receiver *>(notifier)->test->body_();
    return 1;
}

}  // namespace zltest
