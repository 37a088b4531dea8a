#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

using zltest::HostCanvas;

// A host receiver: the library's word first, then the host's own data.
struct Receiver {
    LayerNotifier notifier;
    std::string name;
    int32_t result = 1;
    std::function<void(Layer *)> action;
};

thread_local std::vector<std::string> *calls = nullptr;

int32_t ZL_CALL Receive(Layer *layer, LayerNotifier *notifier) {
    Receiver *receiver = reinterpret_cast<Receiver *>(notifier);
    if (calls != nullptr) calls->push_back(receiver->name);
    if (receiver->action) receiver->action(layer);
    return receiver->result;
}

Receiver MakeReceiver(const std::string &name, int32_t result = 1) {
    Receiver receiver;
    receiver.notifier.notify = Receive;
    receiver.name = name;
    receiver.result = result;
    return receiver;
}

class NotifyTest : public ::testing::Test {
protected:
    std::vector<std::string> log;
    HostCanvas source{8, 8, 0xFF102030};
    HostCanvas destination{8, 8};
    Receiver sourceRefresh = MakeReceiver("source.refresh");
    Receiver sourceUpdate = MakeReceiver("source.update");
    Receiver destinationRefresh = MakeReceiver("destination.refresh");
    Receiver destinationUpdate = MakeReceiver("destination.update");

    void SetUp() override {
        calls = &log;
        source.layer()->refreshNotifier = &sourceRefresh.notifier;
        source.layer()->updateNotifier = &sourceUpdate.notifier;
        destination.layer()->refreshNotifier = &destinationRefresh.notifier;
        destination.layer()->updateNotifier = &destinationUpdate.notifier;
    }
    void TearDown() override { calls = nullptr; }
};

TEST_F(NotifyTest, OperationsCalledDirectlyReachNoReceiver) {
    CopyLayer(destination.layer(), source.layer());
    CompositOnTopLayer(destination.layer(), source.layer());
    SetLayer(destination.layer(), 0);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(destination.at(7, 7), 0u);
}

TEST_F(NotifyTest, RefreshReachesTheNearestReceiverWithTheLayerPassed) {
    Layer *child = CreateClippedLayer(source.layer());
    Layer *grandchild = CreateClippedLayer(child);
    Layer *seen = nullptr;
    sourceRefresh.action = [&](Layer *layer) { seen = layer; };
    sourceRefresh.result = 42;
    EXPECT_EQ(RefreshLayerEx(grandchild), 1);
    EXPECT_EQ(seen, grandchild);
    EXPECT_EQ(log, (std::vector<std::string>{"source.refresh"}));

    Receiver nearer = MakeReceiver("child.refresh", 0);
    child->refreshNotifier = &nearer.notifier;
    log.clear();
    EXPECT_EQ(RefreshLayerEx(grandchild), 0);  // the receiver's 0 comes back
    EXPECT_EQ(log, (std::vector<std::string>{"child.refresh"}));
    DeleteLayer(grandchild);
    DeleteLayer(child);
}

TEST_F(NotifyTest, MissingReceiversAndNullProcedures) {
    HostCanvas bare(4, 4);
    EXPECT_EQ(RefreshLayerEx(bare.layer()), 0);
    EXPECT_EQ(UpdateLayerEx(bare.layer()), 0);
    EXPECT_EQ(RefreshLayerEx(nullptr), 0);
    LayerNotifier silent{nullptr};
    bare.layer()->updateNotifier = &silent;
    EXPECT_EQ(UpdateLayerEx(bare.layer()), 1);
    EXPECT_EQ(RefreshLayerEx(bare.layer()), 0);  // the two receivers are separate
}

TEST_F(NotifyTest, PullChainRefreshesSourcesButUpdatesNothing) {
    destinationRefresh.action = [&](Layer *) { CopyLayer(destination.layer(), source.layer()); };
    EXPECT_EQ(RefreshLayerEx(destination.layer()), 1);
    EXPECT_EQ(log, (std::vector<std::string>{"destination.refresh", "source.refresh"}));
    EXPECT_EQ(destination.at(3, 3), 0xFF102030u);
}

TEST_F(NotifyTest, ReceiversOnARootAreHandedTheTemporaryChild) {
    // The temporary child is gone after the operation: look at it in the call.
    Layer *seen = nullptr, *seenParent = nullptr;
    uint32_t seenFlags = 0;
    sourceRefresh.action = [&](Layer *layer) {
        seen = layer;
        seenParent = layer->parent;
        seenFlags = layer->flags;
    };
    destinationRefresh.action = [&](Layer *) { CopyLayer(destination.layer(), source.layer()); };
    RefreshLayerEx(destination.layer());
    EXPECT_NE(seen, source.layer());
    EXPECT_EQ(seenParent, source.layer());
    EXPECT_EQ(seenFlags, 3u);
}

TEST_F(NotifyTest, PushChainUpdatesWhatEachReceiverWrites) {
    HostCanvas screen(8, 8);
    Receiver screenUpdate = MakeReceiver("screen.update");
    screen.layer()->updateNotifier = &screenUpdate.notifier;
    Receiver screenRefresh = MakeReceiver("screen.refresh");
    screen.layer()->refreshNotifier = &screenRefresh.notifier;
    sourceUpdate.action = [&](Layer *) { CompositOnBottomLayer(source.layer(), screen.layer()); };
    EXPECT_EQ(UpdateLayerEx(source.layer()), 1);
    EXPECT_EQ(log, (std::vector<std::string>{"source.update", "screen.update"}));
}

TEST_F(NotifyTest, FlagsAreOffAfterwardsEvenInsideAnOuterReceiver) {
    destinationRefresh.action = [&](Layer *) {
        RefreshLayerEx(nullptr);                                // a nested call ends the chain
        CopyLayer(destination.layer(), source.layer());          // so this reaches nobody
    };
    RefreshLayerEx(destination.layer());
    EXPECT_EQ(log, (std::vector<std::string>{"destination.refresh"}));
    log.clear();
    CopyLayer(destination.layer(), source.layer());
    CompositOnBottomLayer(source.layer(), destination.layer());
    EXPECT_TRUE(log.empty());
}

TEST_F(NotifyTest, FlagsOfOneThreadDoNotReachAnother) {
    std::promise<void> inside, done;
    std::shared_future<void> doneFuture = done.get_future().share();
    destinationRefresh.action = [&](Layer *) {
        inside.set_value();
        doneFuture.wait();
    };
    std::thread chain([&] { RefreshLayerEx(destination.layer()); });
    inside.get_future().wait();
    // While the other thread sits inside its refresh chain, this thread's
    // operations still reach no receiver.
    HostCanvas other(4, 4);
    Receiver otherRefresh = MakeReceiver("other.refresh");
    other.layer()->refreshNotifier = &otherRefresh.notifier;
    CopyLayer(destination.layer(), other.layer());
    done.set_value();
    chain.join();
    EXPECT_TRUE(log.empty());  // the chain ran on the other thread, with its own log
}

}  // namespace
