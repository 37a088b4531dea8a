// Threads against the library's locking rules, run under ThreadSanitizer:
// - many threads make and reference clipped layers of shared roots (the host
//   serialises that, as the library asks) and then delete them all at once,
//   relying on the library's lock alone;
// - each thread composites, fills and copies on a tree of its own, inside its
//   own refresh and update chains, so that the per-thread notification flags
//   must keep the chains apart.
// Every root and every clipped layer must be destroyed exactly once.
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "ZantrelLayer.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 1500;
constexpr int kLayersPerRound = 12;
constexpr int kRoots = 3;
constexpr int kSize = 16;

std::atomic<int> destroyedClipped{0};
std::atomic<int> destroyedRoots[kRoots];
std::atomic<int> failures{0};

void Check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "check failed: %s\n", what);
        failures.fetch_add(1);
    }
}

int32_t ZL_CALL CountClipped(Layer *, void *) {
    destroyedClipped.fetch_add(1);
    return 0;
}

template <int I>
int32_t ZL_CALL CountRoot(Layer *, void *) {
    destroyedRoots[I].fetch_add(1);
    return 0;
}

// A barrier for a fixed number of threads, reusable round after round.
class Barrier {
public:
    explicit Barrier(int count) : count_(count) {}
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        int generation = generation_;
        if (++waiting_ == count_) {
            waiting_ = 0;
            ++generation_;
            cv_.notify_all();
        } else {
            cv_.wait(lock, [&] { return generation != generation_; });
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int count_, waiting_ = 0, generation_ = 0;
};

// Receivers record which chain reached them on which thread.
struct Receiver {
    LayerNotifier base;
    std::thread::id owner;
    int calls = 0;
};
int32_t ZL_CALL Receive(Layer *, LayerNotifier *notifier) {
    Receiver *r = reinterpret_cast<Receiver *>(notifier);
    Check(r->owner == std::this_thread::get_id(), "a receiver runs on the thread that reported");
    ++r->calls;
    return 1;
}

// One thread's own tree: fills, copies and composites checked pixel by pixel,
// inside refresh and update chains of its own.
void PrivateWork(int seed) {
    std::vector<uint32_t> a(kSize * kSize), b(kSize * kSize);
    Layer *rootA = CreateCompatibleLayer(a.data(), kSize, kSize, kSize * 4);
    Layer *rootB = CreateCompatibleLayer(b.data(), kSize, kSize, kSize * 4);
    Layer *window = CreateClippedLayer(rootB);
    ClipLayerXYWH(window, 4, 4, 8, 8);
    Receiver refreshA{{Receive}, std::this_thread::get_id()}, updateB{{Receive}, std::this_thread::get_id()};
    rootA->refreshNotifier = &refreshA.base;
    rootB->updateNotifier = &updateB.base;
    for (int i = 0; i < 3000; ++i) {
        uint32_t colour = 0xFF000000u | static_cast<uint32_t>(seed * 7919 + i);
        SetLayer(rootA, colour);
        SetLayer(rootB, 0);
        CopyLayer(window, rootA);  // called directly: no receiver
        Check(b[5 * kSize + 5] == colour && b[0] == 0, "the copy fills the window only");
        Check(refreshA.calls == 0 && updateB.calls == 0, "no chain, no receiver");
        CompositOnBottomLayer(rootA, window);
        Check(b[11 * kSize + 11] == colour && b[12 * kSize + 12] == 0, "the composite stays in the window");
    }
    // Inside this thread's update chain the copy reaches only update receivers.
    struct Pusher {
        LayerNotifier base;
        Layer *destination, *source;
    } push{{[](Layer *, LayerNotifier *n) -> int32_t {
               Pusher *p = reinterpret_cast<Pusher *>(n);
               return CopyLayer(p->destination, p->source);
           }},
           window, rootA};
    Layer *trigger = CreateClippedLayer(rootA);
    trigger->updateNotifier = &push.base;
    for (int i = 0; i < 100; ++i) {
        int before = updateB.calls;
        Check(UpdateLayerEx(trigger) == 1, "the update chain runs");
        Check(updateB.calls == before + 1 && refreshA.calls == 0, "only the update receiver of the copy's output");
    }
    DeleteLayer(trigger);
    DeleteLayer(window);
    Check(DeleteLayer(rootA) == 1 && DeleteLayer(rootB) == 1, "private roots freed");
}

}  // namespace

int main() {
    static std::vector<uint32_t> pixels[kRoots];
    Layer *roots[kRoots];
    LayerDestroyProc rootHooks[kRoots] = {CountRoot<0>, CountRoot<1>, CountRoot<2>};
    for (int r = 0; r < kRoots; ++r) {
        pixels[r].assign(kSize * kSize, 0);
        roots[r] = CreateCompatibleLayer(pixels[r].data(), kSize, kSize, kSize * 4);
        roots[r]->destroy = rootHooks[r];
    }
    std::mutex treeLock;  // the host serialises changes other than deletion
    Barrier barrier(kThreads);
    std::atomic<int> created{0};

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<Layer *> mine;
            for (int round = 0; round < kRounds; ++round) {
                for (int i = 0; i < kLayersPerRound; ++i) {
                    std::lock_guard<std::mutex> lock(treeLock);
                    Layer *parent = roots[(t + i) % kRoots];
                    if (!mine.empty() && i % 3 == 0) parent = mine.back();  // nested windows
                    Layer *layer = CreateClippedLayer(parent);
                    layer->destroy = CountClipped;
                    ClipLayerXYWH(layer, i % 5, i % 7, 6, 6);
                    AddRefCountLayer(layer);
                    mine.push_back(layer);
                    created.fetch_add(1);
                }
                barrier.Wait();
                // All threads delete at once; the library's lock serialises
                // the changes to the shared roots. Children go first.
                for (auto it = mine.rbegin(); it != mine.rend(); ++it) {
                    Check(DeleteLayer(*it) == 0, "the first drop keeps the layer");
                    Check(DeleteLayer(*it) == 1, "the second drop frees it");
                }
                mine.clear();
                barrier.Wait();
            }
            PrivateWork(t);
        });
    }
    for (std::thread &thread : threads) thread.join();

    for (int r = 0; r < kRoots; ++r) {
        Check(roots[r]->refCount == 1 && roots[r]->firstChild == nullptr, "shared roots are back to one reference");
        Check(DeleteLayer(roots[r]) == 1, "a shared root is freed by its last reference");
        Check(destroyedRoots[r].load() == 1, "every shared root is destroyed once");
    }
    Check(destroyedClipped.load() == created.load(), "every clipped layer is destroyed once");
    std::printf("%d clipped layers over %d threads, %d failures\n", created.load(), kThreads, failures.load());
    return failures.load() == 0 ? 0 : 1;
}
