// Two maps driven by one fixed-seed random sequence of inserts (with and
// without reuse), lookups, deletes after lookups and during iteration,
// clears, recreations and copies, each checked after every step against a
// reference model: per key, the equal-key elements oldest first.
#include "map_fixture.h"

#include <map>
#include <random>
#include <vector>

namespace {

constexpr int32_t VALUE_SIZE = 8;
constexpr int32_t STEPS = 6000;
const int32_t bucket_choices[] = {1, 2, 7, 64};
const unit16 key_units[] = {u'a', u'b', u'A', u'B', 0x00E9, 0x00C9};

using Model = std::map<std::u16string, std::vector<int32_t>>;

struct ModelRun {
    std::mt19937 rng;
    bool fold;
    int32_t next_id = 1;

    int32_t pick(int32_t n) { return std::uniform_int_distribution<int32_t>(0, n - 1)(rng); }

    std::u16string random_key()
    {
        std::u16string key;
        for (int32_t i = pick(3); i > 0; --i)
            key.push_back(key_units[pick(6)]);
        return key;
    }

    // The model's name for a key: the map's folding, if any, applied.
    std::u16string model_key(const std::u16string& key) const
    {
        std::u16string folded = key;
        if (fold)
            for (unit16& u : folded)
                if (u >= u'A' && u <= u'Z')
                    u = static_cast<unit16>(u + (u'a' - u'A'));
        return folded;
    }
};

size_t model_size(const Model& model)
{
    size_t n = 0;
    for (const auto& entry : model)
        n += entry.second.size();
    return n;
}

bool value_is_zero(const void* value)
{
    const auto* bytes = static_cast<const unsigned char*>(value);
    for (int32_t i = 0; i < VALUE_SIZE; ++i)
        if (bytes[i])
            return false;
    return true;
}

class MapModelTest : public MapFixture, public ::testing::WithParamInterface<uint32_t> {
protected:
    ModelRun run{std::mt19937(GetParam() & ~1u), (GetParam() & 1u) != 0};
    Model models[2];

    StringMap*& map_of(int which) { return which ? other : map; }

    void create(int which)
    {
        const int32_t buckets = bucket_choices[run.pick(4)];
        ASSERT_NE(map_create(VALUE_SIZE, 0, nullptr, &map_of(which), buckets), nullptr);
        if (run.fold)
            map_of(which)->flags |= MAP_CASE_INSENSITIVE;
        models[which].clear();
    }

    void insert(int which, bool reuse)
    {
        const std::u16string key = run.random_key();
        void* value = map_insert(map_of(which), key.c_str(), reuse);
        ASSERT_NE(value, nullptr);
        ASSERT_TRUE(value_is_zero(value)) << "a new or reused value starts zeroed";
        const int32_t id = run.next_id++;
        value_id(value) = id;
        std::vector<int32_t>& ids = models[which][run.model_key(key)];
        if (reuse && !ids.empty())
            ids.back() = id;
        else
            ids.push_back(id);
    }

    void find(int which, bool then_delete)
    {
        const std::u16string key = run.random_key();
        void* value = map_find(map_of(which), key.c_str());
        std::vector<int32_t>& ids = models[which][run.model_key(key)];
        if (ids.empty()) {
            ASSERT_EQ(value, nullptr) << "absent key found";
            return;
        }
        ASSERT_NE(value, nullptr) << "present key not found";
        ASSERT_EQ(value_id(value), ids.back()) << "the newest equal-key element is visible";
        if (then_delete) {
            map_delete_current(map_of(which));
            ids.pop_back();
        }
    }

    // One full pass, deleting some of the visited elements on the way.
    void iterate(int which, int32_t delete_percent)
    {
        StringMap* m = map_of(which);
        std::map<std::u16string, std::vector<int32_t>> visited;   // ids in visit order
        std::map<std::u16string, std::vector<size_t>> deleted;    // model indexes
        map_reset(m);
        while (void* value = map_next(m)) {
            const std::u16string key = run.model_key(text_of(m->current->key.text));
            std::vector<int32_t>& seen = visited[key];
            seen.push_back(value_id(value));
            if (run.pick(100) < delete_percent) {
                deleted[key].push_back(models[which][key].size() - seen.size());
                map_delete_current(m);
            }
        }
        ASSERT_EQ(map_next(m), nullptr) << "the end holds";
        size_t visits = 0;
        for (const auto& entry : visited)
            visits += entry.second.size();
        ASSERT_EQ(visits, model_size(models[which])) << "every element visited once";
        for (auto& entry : models[which]) {
            std::vector<int32_t> newest_first(entry.second.rbegin(), entry.second.rend());
            ASSERT_EQ(visited[entry.first], newest_first) << "equal keys visit newest first";
            for (size_t index : deleted[entry.first])
                entry.second.erase(entry.second.begin() + static_cast<ptrdiff_t>(index));
        }
    }

    void copy(int from, int to, bool clear_first)
    {
        ASSERT_EQ(map_copy(map_of(from), map_of(to), clear_first), 1);
        if (clear_first)
            models[to].clear();
        for (const auto& entry : models[from]) {
            std::vector<int32_t>& ids = models[to][entry.first];
            ids.insert(ids.end(), entry.second.begin(), entry.second.end());
        }
    }

    void clear(int which)
    {
        map_clear(map_of(which));
        models[which].clear();
    }

    void check_counts()
    {
        for (int which = 0; which < 2; ++which)
            ASSERT_EQ(static_cast<size_t>(map_of(which)->element_count), model_size(models[which]))
                << "map " << which;
    }

    void step()
    {
        const int which = run.pick(2);
        const int32_t roll = run.pick(100);
        if (roll < 35)
            insert(which, false);
        else if (roll < 50)
            insert(which, true);
        else if (roll < 70)
            find(which, false);
        else if (roll < 78)
            find(which, true);
        else if (roll < 88)
            iterate(which, 30);
        else if (roll < 95)
            copy(which, 1 - which, run.pick(2) != 0);
        else if (roll < 98)
            clear(which);
        else
            create(which);
    }
};

}  // namespace

TEST_P(MapModelTest, RandomOperationsMatchTheReferenceModel)
{
    create(0);
    create(1);
    for (int32_t i = 0; i < STEPS && !HasFatalFailure(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        step();
        check_counts();
    }
    iterate(0, 0);
    iterate(1, 0);
}

// Even seeds compare keys exactly, odd ones fold A-Z.
INSTANTIATE_TEST_SUITE_P(FixedSeeds, MapModelTest, ::testing::Values(20261206u, 20261207u, 7u, 8u));
