#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"
#include "tests/runtime/objects/heap_fixture.h"

#include <gtest/gtest.h>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <thread>
#endif

namespace {

class PoolTest : public MainHeapTest {
protected:
    void TearDown() override
    {
        EXPECT_EQ(shared_pool_registry.head, nullptr) << "a shared pool outlived its test";
        shared_pool_registry.head = nullptr;
        MainHeapTest::TearDown();
    }
};

char* block_address(PoolChunk* chunk, int32_t index, int32_t stride)
{
    return reinterpret_cast<char*>(chunk + 1) + index * stride;
}

// The header word before a payload is one pointer wide.
constexpr int32_t HEADER_WORD = sizeof(void*);

PoolChunk* owner_of(void* payload) { return *reinterpret_cast<PoolChunk**>(static_cast<char*>(payload) - HEADER_WORD); }

int32_t list_length(PoolChunk* chunk)
{
    int32_t length = 0;
    for (; chunk; chunk = chunk->next)
        ++length;
    return length;
}

// ---- Threads: Win32 threads under Wine, std::thread natively ------------------------

using ThreadBody = void (*)(int index);
std::atomic<int> threads_waiting;
int thread_count;

// Holds every thread until all have arrived, so that they really race.
void start_together()
{
    threads_waiting.fetch_add(1);
    while (threads_waiting.load() < thread_count)
        thread_yield();
}

#ifdef _WIN32
struct ThreadStart {
    ThreadBody body;
    int index;
};

DWORD WINAPI thread_entry(void* parameter)
{
    auto* start = static_cast<ThreadStart*>(parameter);
    start->body(start->index);
    return 0;
}

void run_threads(int count, ThreadBody body)
{
    threads_waiting = 0;
    thread_count = count;
    std::vector<ThreadStart> starts(count);
    std::vector<HANDLE> handles;
    for (int i = 0; i < count; ++i) {
        starts[i] = ThreadStart{body, i};
        HANDLE thread = CreateThread(nullptr, 0, thread_entry, &starts[i], 0, nullptr);
        ASSERT_NE(thread, nullptr);
        handles.push_back(thread);
    }
    DWORD waited = WaitForMultipleObjects(static_cast<DWORD>(count), handles.data(), TRUE, 60000);
    for (HANDLE thread : handles)
        CloseHandle(thread);
    ASSERT_NE(waited, static_cast<DWORD>(WAIT_TIMEOUT)) << "threads still running after 60 s";
}
#else
void run_threads(int count, ThreadBody body)
{
    threads_waiting = 0;
    thread_count = count;
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back(body, i);
    for (std::thread& thread : threads)
        thread.join();
}
#endif

}  // namespace

// ---- Layout and chunk life ----------------------------------------------------------

TEST_F(PoolTest, StrideIsElementSizePlusHeaderWordRoundedUpToAWord)
{
    struct Case {
        int32_t element_size;
        unsigned stride_32_bits;
        unsigned stride_64_bits;
    };
    const Case cases[] = {{28, 32, 40}, {25, 32, 40}, {8, 12, 16}, {1, 8, 16},
                          {0, 4, 8},    {4, 8, 16},   {5, 12, 16}};
    for (const Case& c : cases) {
        BlockPool* pool = pool_create(c.element_size, 16, 256, 2);
        ASSERT_NE(pool, nullptr);
        EXPECT_EQ(pool->stride, static_cast<int32_t>(by_width(c.stride_32_bits, c.stride_64_bits)))
            << "element size " << c.element_size;
        pool_destroy(pool);
    }
}

TEST_F(PoolTest, UnusableParametersGiveNoPool)
{
    EXPECT_EQ(pool_create(-1, 16, 256, 0), nullptr) << "negative element size";
    EXPECT_EQ(pool_create(28, 0, 256, 0), nullptr) << "chunks of no block";
    EXPECT_EQ(pool_create(28, 1, 0, 0), nullptr) << "chunks of at most no block";
    EXPECT_EQ(pool_create(28, 16, -1, POOL_SHARED), nullptr) << "shared, at most no block";
    EXPECT_EQ(pool_create(INT32_MAX, 16, 256, 0), nullptr) << "stride beyond 32 bits";
}

TEST_F(PoolTest, OnlyLowBitsEqualToOneGiveThePoolItsOwnLock)
{
    const int32_t cases[][2] = {{0, 0}, {1, 1}, {2, 0}, {3, 0}, {9, 1}, {10, 0}};
    for (const auto& c : cases) {
        BlockPool* pool = pool_create(28, 16, 256, c[0]);
        ASSERT_NE(pool, nullptr);
        EXPECT_EQ(pool->locked, c[1]) << "flags " << c[0];
        pool_free(pool, pool_alloc(pool));
        pool_destroy(pool);
    }
}

TEST_F(PoolTest, SixteenBlocksComeFromTheFirstChunkInOrderAndTheSeventeenthFromANewOne)
{
    BlockPool* pool = pool_create(28, 16, 256, 2);
    std::vector<void*> payloads;
    for (int i = 0; i < 16; ++i)
        payloads.push_back(pool_alloc(pool));
    PoolChunk* first = owner_of(payloads[0]);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(payloads[i], block_address(first, i, pool->stride) + HEADER_WORD) << "block " << i;
        EXPECT_EQ(owner_of(payloads[i]), first) << "block " << i;
    }
    EXPECT_EQ(first->capacity, 16);
    EXPECT_EQ(pool->open_chunks, nullptr);
    EXPECT_EQ(pool->full_chunks, first) << "a chunk with nothing left is on the full list";

    void* seventeenth = pool_alloc(pool);
    PoolChunk* second = owner_of(seventeenth);
    EXPECT_NE(second, first);
    EXPECT_EQ(seventeenth, block_address(second, 0, pool->stride) + HEADER_WORD);
    EXPECT_EQ(pool->open_chunks, second);
    EXPECT_EQ(pool->total_blocks, 32);

    pool_free(pool, payloads[5]);
    EXPECT_EQ(pool->open_chunks, first) << "a full chunk given a block back heads the open list";
    EXPECT_EQ(first->next, second);
    EXPECT_EQ(pool->full_chunks, nullptr);
    EXPECT_EQ(pool_alloc(pool), payloads[5]);
    pool_destroy(pool);
}

TEST_F(PoolTest, AChunkGoesBackToTheHeapAsSoonAsEveryBlockItHandedOutIsBack)
{
    BlockPool* pool = pool_create(28, 16, 256, 2);
    void* only = pool_alloc(pool);
    pool_free(pool, only);
    EXPECT_EQ(pool->open_chunks, nullptr) << "one of sixteen blocks used, and it came back";
    EXPECT_EQ(pool->total_blocks, 0);

    void* a = pool_alloc(pool);
    void* b = pool_alloc(pool);
    pool_free(pool, a);
    EXPECT_EQ(pool->total_blocks, 16) << "one block still out";
    pool_free(pool, b);
    EXPECT_EQ(pool->total_blocks, 0);
    EXPECT_EQ(pool->open_chunks, nullptr);
    pool_destroy(pool);
}

TEST_F(PoolTest, ReturnedBlocksAreReusedLastInFirstOutBeforeUntouchedOnes)
{
    BlockPool* pool = pool_create(28, 16, 256, 2);
    void* first = pool_alloc(pool);
    void* second = pool_alloc(pool);
    void* third = pool_alloc(pool);
    pool_free(pool, second);
    EXPECT_EQ(pool_alloc(pool), second);
    pool_free(pool, first);
    pool_free(pool, third);
    EXPECT_EQ(pool_alloc(pool), third);
    EXPECT_EQ(pool_alloc(pool), first);
    EXPECT_EQ(owner_of(first)->fresh_used, 3) << "no untouched block was taken";
    pool_destroy(pool);
}

TEST_F(PoolTest, NewChunksHoldOneSixteenthOfThePoolInStepsOfSixteenWithinTheBounds)
{
    BlockPool* pool = pool_create(28, 16, 256, 2);
    std::map<int32_t, int32_t> capacity_at_total;
    std::vector<void*> payloads;
    while (pool->total_blocks < 20000) {
        int32_t total = pool->total_blocks;
        payloads.push_back(pool_alloc(pool));
        if (pool->total_blocks != total)
            capacity_at_total[total] = owner_of(payloads.back())->capacity;
    }
    const int32_t expected[][2] = {{0, 16}, {496, 16}, {512, 32}, {768, 48}};
    for (const auto& e : expected)
        EXPECT_EQ(capacity_at_total[e[0]], e[1]) << "chunk added at total " << e[0];
    for (const auto& [total, capacity] : capacity_at_total)
        ASSERT_LE(capacity, 256) << "chunk added at total " << total;
    EXPECT_EQ(capacity_at_total.rbegin()->second, 256);
    for (void* payload : payloads)
        pool_free(pool, payload);
    EXPECT_EQ(pool->total_blocks, 0);
    pool_destroy(pool);
}

TEST_F(PoolTest, ReleaseAllEmptiesThePoolAndLeavesItUsable)
{
    BlockPool* pool = pool_create(8, 4, 8, POOL_LOCKED);
    for (int i = 0; i < 40; ++i)
        pool_alloc(pool);
    pool_release_all(pool);
    EXPECT_EQ(pool->open_chunks, nullptr);
    EXPECT_EQ(pool->full_chunks, nullptr);
    EXPECT_EQ(pool->total_blocks, 0);
    void* payload = pool_alloc(pool);
    ASSERT_NE(payload, nullptr);
    EXPECT_EQ(pool->total_blocks, 4);
    pool_free(pool, payload);
    pool_free(pool, nullptr);
    EXPECT_EQ(pool->total_blocks, 0);
    pool_destroy(pool);
}

// ---- Refused memory ---------------------------------------------------------------------

TEST_F(PoolTest, RefusedFullChunkGivesASingleBlockChunkOnTheFullList)
{
    BlockPool* pool = pool_create(28, 16, 256, 2);
    heap_fail_next(1);
    void* older = pool_alloc(pool);
    ASSERT_NE(older, nullptr);
    heap_fail_next(1);
    void* newer = pool_alloc(pool);
    ASSERT_NE(newer, nullptr);
    EXPECT_EQ(owner_of(older)->capacity, 1);
    EXPECT_EQ(pool->open_chunks, nullptr);
    EXPECT_EQ(pool->full_chunks, owner_of(newer));
    EXPECT_EQ(list_length(pool->full_chunks), 2);
    EXPECT_EQ(pool->total_blocks, 2);

    pool_free(pool, older);  // not the head of the full list
    EXPECT_EQ(pool->full_chunks, owner_of(newer));
    EXPECT_EQ(pool->full_chunks->next, nullptr);
    EXPECT_EQ(pool->full_chunks->prev, nullptr);
    EXPECT_EQ(pool->total_blocks, 1);
    pool_free(pool, newer);
    EXPECT_EQ(pool->full_chunks, nullptr);
    EXPECT_EQ(pool->total_blocks, 0);
    pool_destroy(pool);
}

TEST_F(PoolTest, RefusedFullChunkAndSingleBlockLeaveThePoolUnchanged)
{
    BlockPool* pool = pool_create(28, 16, 256, 2);
    void* kept = pool_alloc(pool);
    for (int i = 1; i < 16; ++i)
        pool_alloc(pool);
    PoolChunk* full = pool->full_chunks;
    heap_fail_next(2);
    EXPECT_EQ(pool_alloc(pool), nullptr);
    EXPECT_EQ(pool->open_chunks, nullptr);
    EXPECT_EQ(pool->full_chunks, full);
    EXPECT_EQ(full->next, nullptr);
    EXPECT_EQ(pool->total_blocks, 16);
    pool_free(pool, kept);
    EXPECT_EQ(pool_alloc(pool), kept) << "a returned block needs no heap call";
    pool_destroy(pool);
}

TEST_F(PoolTest, RefusedCreationReturnsNullAndLeavesTheRegistryAsItWas)
{
    heap_fail_next(1);
    EXPECT_EQ(pool_create(28, 16, 256, 2), nullptr);
    for (int refusals : {1, 2}) {
        heap_fail_next(refusals);
        EXPECT_EQ(pool_create(28, 16, 256, POOL_SHARED), nullptr) << refusals << " refusals";
        heap_fail_next(0);
        EXPECT_EQ(shared_pool_registry.head, nullptr) << refusals << " refusals";
    }
    BlockPool* pool = pool_create(28, 16, 256, POOL_SHARED);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->shared_entry->users, 1);
    pool_destroy(pool);
}

// ---- Shared pools -----------------------------------------------------------------------

TEST_F(PoolTest, SharedPoolIsKeptUntilItsLastUserDestroysIt)
{
    BlockPool* first = pool_create(25, 16, 65536, POOL_SHARED);
    BlockPool* second = pool_create(28, 4, 8, POOL_SHARED);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(second, first) << "element sizes 25 and 28 give one stride";
    SharedPoolEntry* entry = first->shared_entry;
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->users, 2);
    EXPECT_EQ(entry->stride, static_cast<int32_t>(by_width(32, 40)));
    EXPECT_EQ(entry->flags, POOL_SHARED);
    EXPECT_EQ(first->min_per_chunk, 16) << "the first creator's bounds stay";
    EXPECT_EQ(first->max_per_chunk, 65536);

    void* payload = pool_alloc(second);
    pool_destroy(first);
    EXPECT_EQ(shared_pool_registry.head, entry);
    EXPECT_EQ(entry->users, 1);
    pool_free(second, payload);
    pool_destroy(second);
    EXPECT_EQ(shared_pool_registry.head, nullptr);
}

TEST_F(PoolTest, SharedPoolsDifferByStrideAndByEveryFlagBit)
{
    const int32_t keys[][2] = {{28, POOL_SHARED},     {28, POOL_SHARED | 1}, {28, POOL_SHARED | 2},
                               {28, POOL_SHARED | 3}, {24, POOL_SHARED},     {28, POOL_SHARED | 8}};
    std::set<BlockPool*> pools;
    std::vector<BlockPool*> created;
    for (const auto& key : keys) {
        BlockPool* pool = pool_create(key[0], 16, 256, key[1]);
        ASSERT_NE(pool, nullptr);
        EXPECT_TRUE(pools.insert(pool).second) << "size " << key[0] << ", flags " << key[1];
        created.push_back(pool);
    }
    EXPECT_EQ(pool_create(28, 16, 256, POOL_SHARED | 1)->locked, 1);
    created.push_back(created[1]);
    // Destroy in an order that unlinks head, middle and tail entries.
    const int order[] = {3, 0, 6, 5, 1, 2, 4};
    for (int index : order)
        pool_destroy(created[index]);
}

// ---- Run-once ----------------------------------------------------------------------------

namespace {

using RunOnce = void (*)(volatile OnceWord*, void (*)());
RunOnce run_once_under_test;
volatile OnceWord race_word;
std::atomic<int> routine_runs;
std::atomic<int> routine_finished;
std::atomic<int> returned_early;

// Slow enough that the other threads arrive while it is running.
void slow_routine()
{
    routine_runs.fetch_add(1);
    for (int i = 0; i < 200; ++i)
        thread_yield();
    routine_finished = 1;
}

void race_for_once(int)
{
    start_together();
    run_once_under_test(&race_word, slow_routine);
    if (!routine_finished.load())
        returned_early.fetch_add(1);
}

void expect_routine_runs_once_under_a_race(RunOnce under_test)
{
    run_once_under_test = under_test;
    for (int round = 0; round < 20; ++round) {
        race_word = 0;
        routine_runs = 0;
        routine_finished = 0;
        returned_early = 0;
        run_threads(8, race_for_once);
        ASSERT_EQ(routine_runs.load(), 1) << "round " << round;
        ASSERT_EQ(returned_early.load(), 0) << "round " << round;
        under_test(&race_word, slow_routine);
        ASSERT_EQ(routine_runs.load(), 1) << "round " << round << ", after the race";
    }
}

}  // namespace

TEST(RunOnce, RoutineRunsOnceAndEveryRacerWaitsForIt)
{
#ifdef _WIN32
    volatile OnceWord probe = 0;
    routine_runs = 0;
    EXPECT_EQ(system_run_once(&probe, slow_routine), 1)
        << "the system's one-time initialisation is what this test races";
#endif
    expect_routine_runs_once_under_a_race(run_once);
}

// The system writes its whole one-time object, one pointer wide at 64 bits.
TEST(RunOnce, LeavesTheMemoryAfterItsWordAlone)
{
    struct Guarded {
        alignas(8) volatile OnceWord word;
        int32_t after;
    } guarded{0, 0x5A5A5A5A};
    routine_runs = 0;
    run_once(&guarded.word, slow_routine);
    run_once(&guarded.word, slow_routine);
    EXPECT_EQ(routine_runs.load(), 1);
    EXPECT_EQ(guarded.after, 0x5A5A5A5A);
}

TEST(RunOnce, OnceWordPathRunsTheRoutineOnceAndEveryRacerWaitsForIt)
{
    expect_routine_runs_once_under_a_race(run_once_portable);
    EXPECT_EQ(race_word, 2) << "the word ends as done";
}

// ---- Threads sharing one locked pool ----------------------------------------------

namespace {

std::atomic<int> corrupted_blocks;
std::atomic<int> refused_blocks;

// Every thread creates the shared locked pool, churns blocks tagged with its
// own index, checks the tags and ends its use of the pool.
void churn_shared_locked_pool(int index)
{
    start_together();
    BlockPool* pool = pool_create(28, 16, 256, POOL_SHARED | POOL_LOCKED);
    if (!pool) {
        refused_blocks.fetch_add(1);
        return;
    }
    std::vector<int32_t*> live;
    std::mt19937 random(static_cast<uint32_t>(index) + 100);
    for (int i = 0; i < 20000; ++i) {
        if (live.empty() || random() % 3 != 0) {
            auto* payload = static_cast<int32_t*>(pool_alloc(pool));
            if (!payload) {
                refused_blocks.fetch_add(1);
                continue;
            }
            for (int word = 0; word < 7; ++word)
                payload[word] = index * 1000 + word;
            live.push_back(payload);
        } else {
            size_t at = random() % live.size();
            for (int word = 0; word < 7; ++word)
                if (live[at][word] != index * 1000 + word)
                    corrupted_blocks.fetch_add(1);
            pool_free(pool, live[at]);
            live[at] = live.back();
            live.pop_back();
        }
    }
    for (int32_t* payload : live)
        pool_free(pool, payload);
    pool_destroy(pool);
}

}  // namespace

TEST_F(PoolTest, LockedSharedPoolServesRacingThreadsWithoutMixingBlocks)
{
    corrupted_blocks = 0;
    refused_blocks = 0;
    BlockPool* held = pool_create(28, 16, 256, POOL_SHARED | POOL_LOCKED);
    ASSERT_NE(held, nullptr);
    run_threads(4, churn_shared_locked_pool);
    EXPECT_EQ(corrupted_blocks.load(), 0);
    EXPECT_EQ(refused_blocks.load(), 0);
    EXPECT_EQ(held->shared_entry->users, 1) << "every thread ended its use";
    EXPECT_EQ(held->total_blocks, 0) << "every chunk went back to the heap";
    pool_destroy(held);
}

// ---- A long random sequence against a model ---------------------------------------
// Several private and shared pools (two creations alias one shared pool) take
// seeded waves of allocations and returns, with refused heap blocks now and
// then. After every step the live blocks must be distinct and hold what was
// written; periodically each pool's chunk lists must agree with the model.

namespace {

struct LiveBlock {
    unsigned char* payload;
    unsigned char fill;
};

struct ModelPool {
    BlockPool* pool;
    int32_t element_size;
    std::vector<LiveBlock> live;
};

struct PoolShape {
    int32_t element_size;
    int32_t min_per_chunk;
    int32_t max_per_chunk;
    int32_t flags;
};

class PoolModel {
public:
    explicit PoolModel(uint32_t seed) : random_(seed)
    {
        const PoolShape shapes[] = {
            {28, 16, 256, 2},         {8, 1, 4, 0},  {100, 3, 40, POOL_LOCKED},
            {1, 16, 65536, POOL_SHARED}, {3, 2, 8, POOL_SHARED}, {60, 16, 64, POOL_SHARED | 1},
        };
        for (const PoolShape& shape : shapes) {
            BlockPool* pool = pool_create(shape.element_size, shape.min_per_chunk,
                                          shape.max_per_chunk, shape.flags);
            handles_.push_back(pool);
            if (!model_of(pool))
                pools_.push_back(ModelPool{pool, shape.element_size, {}});
        }
    }

    size_t distinct_pools() const { return pools_.size(); }
    bool created() const
    {
        for (BlockPool* pool : handles_)
            if (!pool)
                return false;
        return true;
    }

    void step(int index)
    {
        bool growing = (index / 3000) % 2 == 0;
        BlockPool* handle = handles_[pick(static_cast<uint32_t>(handles_.size()))];
        ModelPool& model = *model_of(handle);
        uint32_t choice = pick(1000);
        if (choice < 2)
            release_all(handle, model);
        else if (choice < 20)
            alloc_with_refusals(handle, model, 1 + pick(2));
        else if (choice < (growing ? 700u : 300u) || model.live.empty())
            alloc(handle, model);
        else
            free_one(handle, model);
    }

    void check_pools()
    {
        std::set<unsigned char*> payloads;
        for (ModelPool& model : pools_) {
            check_chunks(model);
            for (LiveBlock& block : model.live) {
                ASSERT_TRUE(payloads.insert(block.payload).second) << "block handed out twice";
                for (int32_t i = 0; i < model.element_size; ++i)
                    ASSERT_EQ(block.payload[i], block.fill) << "byte " << i << " overwritten";
            }
        }
    }

    void finish()
    {
        for (ModelPool& model : pools_) {
            for (LiveBlock& block : model.live)
                pool_free(model.pool, block.payload);
            ASSERT_EQ(model.pool->total_blocks, 0);
            ASSERT_EQ(model.pool->open_chunks, nullptr);
            ASSERT_EQ(model.pool->full_chunks, nullptr);
        }
        for (BlockPool* pool : handles_)
            pool_destroy(pool);
    }

private:
    uint32_t pick(uint32_t bound) { return random_() % bound; }

    ModelPool* model_of(BlockPool* pool)
    {
        for (ModelPool& model : pools_)
            if (model.pool == pool)
                return &model;
        return nullptr;
    }

    void keep(ModelPool& model, void* payload)
    {
        auto fill = static_cast<unsigned char>(random_());
        std::memset(payload, fill, static_cast<size_t>(model.element_size));
        model.live.push_back(LiveBlock{static_cast<unsigned char*>(payload), fill});
    }

    void alloc(BlockPool* handle, ModelPool& model)
    {
        void* payload = pool_alloc(handle);
        ASSERT_NE(payload, nullptr);
        keep(model, payload);
    }

    // With the heap refusing, a block can still come from an open chunk; a
    // new chunk shrinks to one block; with both refused nothing changes.
    void alloc_with_refusals(BlockPool* handle, ModelPool& model, uint32_t refusals)
    {
        bool had_open = model.pool->open_chunks != nullptr;
        PoolChunk* full_head = model.pool->full_chunks;
        int32_t total = model.pool->total_blocks;
        heap_fail_next(static_cast<int>(refusals));
        void* payload = pool_alloc(handle);
        heap_fail_next(0);
        if (had_open) {
            ASSERT_NE(payload, nullptr);
        } else if (refusals == 2) {
            ASSERT_EQ(payload, nullptr);
            ASSERT_EQ(model.pool->full_chunks, full_head);
            ASSERT_EQ(model.pool->total_blocks, total);
            return;
        } else {
            ASSERT_NE(payload, nullptr);
            ASSERT_EQ(owner_of(payload)->capacity, 1);
            ASSERT_EQ(model.pool->full_chunks, owner_of(payload));
        }
        keep(model, payload);
    }

    void free_one(BlockPool* handle, ModelPool& model)
    {
        size_t at = pick(static_cast<uint32_t>(model.live.size()));
        LiveBlock block = model.live[at];
        for (int32_t i = 0; i < model.element_size; ++i)
            ASSERT_EQ(block.payload[i], block.fill) << "byte " << i << " overwritten";
        pool_free(handle, block.payload);
        model.live[at] = model.live.back();
        model.live.pop_back();
    }

    void release_all(BlockPool* handle, ModelPool& model)
    {
        pool_release_all(handle);
        model.live.clear();
        ASSERT_EQ(model.pool->total_blocks, 0);
    }

    // Both lists well linked, every chunk on the right one, none empty, and
    // the totals and handed-out counts equal to the model's.
    void check_chunks(ModelPool& model)
    {
        int32_t capacity_sum = 0;
        int32_t handed_out = 0;
        std::set<PoolChunk*> chunks;
        for (int full = 0; full < 2; ++full) {
            PoolChunk* previous = nullptr;
            PoolChunk* head = full ? model.pool->full_chunks : model.pool->open_chunks;
            for (PoolChunk* chunk = head; chunk; previous = chunk, chunk = chunk->next) {
                ASSERT_EQ(chunk->prev, previous);
                bool has_room = chunk->free_count > 0 || chunk->fresh_used < chunk->capacity;
                ASSERT_EQ(has_room, !full) << "chunk on the wrong list";
                ASSERT_NE(chunk->free_count, chunk->fresh_used) << "an empty chunk survived";
                capacity_sum += chunk->capacity;
                handed_out += chunk->fresh_used - chunk->free_count;
                chunks.insert(chunk);
            }
        }
        ASSERT_EQ(capacity_sum, model.pool->total_blocks);
        ASSERT_EQ(handed_out, static_cast<int32_t>(model.live.size()));
        for (LiveBlock& block : model.live) {
            PoolChunk* owner = owner_of(block.payload);
            ASSERT_TRUE(chunks.count(owner)) << "header word names no chunk of the pool";
            std::ptrdiff_t offset = reinterpret_cast<char*>(block.payload) - HEADER_WORD -
                                    reinterpret_cast<char*>(owner + 1);
            ASSERT_EQ(offset % model.pool->stride, 0);
            ASSERT_LT(offset / model.pool->stride, owner->fresh_used);
        }
    }

    std::mt19937 random_;
    std::vector<BlockPool*> handles_;
    std::vector<ModelPool> pools_;
};

}  // namespace

TEST_F(PoolTest, PoolsFollowTheModelThroughLongRandomSequences)
{
    for (uint32_t seed : {7u, 8u, 9u}) {
        SCOPED_TRACE(::testing::Message() << "seed " << seed);
        PoolModel model(seed);
        ASSERT_TRUE(model.created());
        ASSERT_EQ(model.distinct_pools(), 5u) << "element sizes 1 and 3 share one pool";
        for (int i = 0; i < 60000; ++i) {
            model.step(i);
            if (i % 500 == 0)
                model.check_pools();
            if (::testing::Test::HasFatalFailure())
                FAIL() << "at operation " << i;
        }
        model.check_pools();
        model.finish();
    }
}
