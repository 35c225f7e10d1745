// Block pool against malloc/free and std::pmr::unsynchronized_pool_resource
// on 28-byte blocks (the event queue's size): (a) one million allocations,
// then every block returned; (b) a churn of returns and allocations over a
// working set of 10 000. Prints nanoseconds per operation and the ratios.
#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <malloc.h>
#include <memory_resource>
#include <vector>

namespace {

constexpr size_t BLOCK_SIZE = 28;
constexpr size_t BULK_COUNT = 1000000;
constexpr size_t WORKING_SET = 10000;
constexpr size_t CHURN_ROUNDS = 4000000;
constexpr int REPEATS = 5;

// Each peer as a type with inline take/give, so the timed loops call the
// allocator directly and measure little besides it.
struct PoolPeer {
    static constexpr const char* name = "block pool";
    BlockPool* pool = pool_create(BLOCK_SIZE, 16, 256, 2);
    ~PoolPeer() { pool_destroy(pool); }
    void* take() { return pool_alloc(pool); }
    void give(void* block) { pool_free(pool, block); }
};

struct MallocPeer {
    static constexpr const char* name = "malloc/free";
    void* take() { return std::malloc(BLOCK_SIZE); }
    void give(void* block) { std::free(block); }
};

struct PmrPeer {
    static constexpr const char* name = "pmr unsynchronized pool";
    std::pmr::unsynchronized_pool_resource resource;
    void* take() { return resource.allocate(BLOCK_SIZE, 4); }
    void give(void* block) { resource.deallocate(block, BLOCK_SIZE, 4); }
};

// The thread's own CPU time: the machine is shared, and time spent running
// other processes must not count against any peer.
double cpu_seconds()
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Writes into every block so that no allocation can be optimised away.
template <typename Peer>
double bulk_ns_per_op(std::vector<void*>& blocks)
{
    Peer peer;
    double start = cpu_seconds();
    for (size_t i = 0; i < BULK_COUNT; ++i) {
        blocks[i] = peer.take();
        *static_cast<uint32_t*>(blocks[i]) = static_cast<uint32_t>(i);
    }
    for (size_t i = 0; i < BULK_COUNT; ++i)
        peer.give(blocks[i]);
    return (cpu_seconds() - start) * 1e9 / (2.0 * BULK_COUNT);
}

template <typename Peer>
double churn_ns_per_op(std::vector<void*>& blocks, const std::vector<uint32_t>& victims)
{
    Peer peer;
    for (size_t i = 0; i < WORKING_SET; ++i)
        blocks[i] = peer.take();
    double start = cpu_seconds();
    for (size_t round = 0; round < CHURN_ROUNDS; ++round) {
        uint32_t at = victims[round];
        peer.give(blocks[at]);
        blocks[at] = peer.take();
        *static_cast<uint32_t*>(blocks[at]) = static_cast<uint32_t>(round);
    }
    double elapsed = (cpu_seconds() - start);
    for (size_t i = 0; i < WORKING_SET; ++i)
        peer.give(blocks[i]);
    return elapsed * 1e9 / (2.0 * CHURN_ROUNDS);
}

struct Result {
    const char* name;
    double bulk = 1e30;
    double churn = 1e30;
};

template <typename Peer>
void measure(Result& result, std::vector<void*>& blocks, const std::vector<uint32_t>& victims)
{
    result.name = Peer::name;
    double bulk = bulk_ns_per_op<Peer>(blocks);
    double churn = churn_ns_per_op<Peer>(blocks, victims);
    result.bulk = bulk < result.bulk ? bulk : result.bulk;
    result.churn = churn < result.churn ? churn : result.churn;
}

// Fixed-seed victims, drawn before timing so every allocator sees the same sequence.
std::vector<uint32_t> churn_victims()
{
    std::vector<uint32_t> victims(CHURN_ROUNDS);
    uint32_t x = 2463534242u;
    for (uint32_t& v : victims) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v = x % WORKING_SET;
    }
    return victims;
}

}  // namespace

int main()
{
    // Memory stays in the process between runs: otherwise every run pays the
    // kernel for fresh pages, the same cost for every peer, hiding their own.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, INT32_MAX);
    main_heap = heap_create();
    std::vector<void*> blocks(BULK_COUNT);
    std::vector<uint32_t> victims = churn_victims();
    Result results[3];
    // Best of several interleaved runs, so no peer profits from a quiet moment.
    for (int repeat = 0; repeat < REPEATS; ++repeat) {
        measure<PoolPeer>(results[0], blocks, victims);
        measure<MallocPeer>(results[1], blocks, victims);
        measure<PmrPeer>(results[2], blocks, victims);
    }
    std::printf("28-byte blocks, best of %d runs, ns per operation (allocation or return)\n",
                REPEATS);
    std::printf("%-26s %14s %14s %16s %16s\n", "allocator", "(a) bulk 1e6", "(b) churn 1e4",
                "(a) x pool time", "(b) x pool time");
    for (const Result& r : results)
        std::printf("%-26s %14.2f %14.2f %16.2f %16.2f\n", r.name, r.bulk, r.churn,
                    r.bulk / results[0].bulk, r.churn / results[0].churn);
    heap_destroy(main_heap);
    return 0;
}
