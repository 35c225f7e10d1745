// A long seeded sequence of list operations checked step by step against a
// plain model: which numbers exist, where their records live, what the
// records hold, and the order a walk must follow.
#include "runtime/objects/objects.h"
#include "tests/runtime/objects/heap_fixture.h"

#include <gtest/gtest.h>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

namespace {

struct Record {
    intptr_t handle;
    int32_t tag;
};

struct ModelObject {
    Record* record;
    intptr_t handle;
    int32_t tag;
};

ObjectList* model_list;
int32_t callback_calls;

int32_t release_from_model_list(intptr_t number)
{
    ++callback_calls;
    return object_release(model_list, number);
}

intptr_t number_of(const void* record)
{
    return reinterpret_cast<intptr_t>(record);
}

class ObjectListModel {
public:
    ObjectListModel(uint32_t seed, int32_t step) : random_(seed), step_(step), capacity_(step)
    {
        list_ = object_list_new(sizeof(Record), step, release_from_model_list);
        model_list = list_;
    }

    ObjectList* list() const { return list_; }

    void step()
    {
        uint32_t choice = pick(100);
        if (choice < 25)
            alloc_numbered(pick_number());
        else if (choice < 37)
            alloc_dynamic();
        else if (choice < 49)
            release_numbered(pick_number());
        else if (choice < 60)
            release_dynamic();
        else if (choice < 75)
            check_get();
        else if (choice < 82)
            check_walk();
        else if (choice < 92)
            refill_some_record();
        else
            refused_creation();
    }

    void check_walk()
    {
        std::vector<intptr_t> expected;
        std::vector<int32_t> expected_tags;
        for (auto& [number, object] : numbered_) {
            if (object.handle) {
                expected.push_back(number);
                expected_tags.push_back(object.tag);
            }
        }
        for (ModelObject& object : dynamic_) {
            expected.push_back(number_of(object.record));
            expected_tags.push_back(object.tag);
        }
        std::vector<intptr_t> actual;
        std::vector<int32_t> actual_tags;
        intptr_t number = 0;
        object_iter_start(list_);
        while (void* record = object_iter_next(list_, &number)) {
            actual.push_back(number);
            actual_tags.push_back(static_cast<Record*>(record)->tag);
        }
        ASSERT_EQ(actual, expected);
        ASSERT_EQ(actual_tags, expected_tags);
        ASSERT_EQ(list_->capacity, capacity_);
    }

    void free_everything()
    {
        int32_t existing = static_cast<int32_t>(dynamic_.size());
        for (auto& entry : numbered_)
            existing += entry.second.handle != 0;
        callback_calls = 0;
        object_list_free_all(list_);
        ASSERT_EQ(callback_calls, existing);
        ASSERT_EQ(list_->dynamic_head, nullptr);
        for (auto& entry : numbered_)
            ASSERT_EQ(object_get(list_, entry.first), nullptr);
    }

private:
    uint32_t pick(uint32_t bound) { return random_() % bound; }

    int32_t pick_number()
    {
        uint32_t range = pick(10) == 0 ? 10 * step_ + 10 : 2 * step_ + 2;
        return static_cast<int32_t>(pick(range));
    }

    // Half the handles use only the top bits, all of the low 32 clear at 64 bits.
    void fill(ModelObject& object)
    {
        const uintptr_t value = pick(1000) + 1;
        const int shift = pick(2) ? 0 : 8 * sizeof(intptr_t) - 12;
        object.handle = pick(8) == 0 ? 0 : static_cast<intptr_t>(value << shift);
        object.tag = static_cast<int32_t>(random_());
        object.record->handle = object.handle;
        object.record->tag = object.tag;
    }

    void alloc_numbered(int32_t number)
    {
        auto it = numbered_.find(number);
        callback_calls = 0;
        auto* record = static_cast<Record*>(object_alloc(list_, number));
        ASSERT_NE(record, nullptr) << "number " << number;
        if (number >= capacity_)
            capacity_ = number + (step_ > 0 ? step_ : 1);
        ASSERT_EQ(list_->capacity, capacity_);
        if (it == numbered_.end()) {
            ASSERT_EQ(callback_calls, 0);
            it = numbered_.emplace(number, ModelObject{record, 0, 0}).first;
        } else {
            ASSERT_EQ(callback_calls, 1) << "number " << number << " reused";
            ASSERT_EQ(record, it->second.record) << "number " << number << " moved";
        }
        ASSERT_EQ(record->handle, 0);
        ASSERT_EQ(record->tag, 0) << "handed out zero-filled";
        fill(it->second);
    }

    void alloc_dynamic()
    {
        auto* record = static_cast<Record*>(object_alloc(list_, ANY_NUMBER));
        ASSERT_NE(record, nullptr);
        ASSERT_EQ(record->handle, 0);
        dynamic_.push_back(ModelObject{record, 0, 0});
        fill(dynamic_.back());
    }

    void release_numbered(int32_t number)
    {
        auto it = numbered_.find(number);
        int32_t expected = it != numbered_.end() ? 1 : 0;
        ASSERT_EQ(object_release(list_, number), expected) << "number " << number;
        if (it != numbered_.end()) {
            it->second.handle = 0;
            it->second.tag = 0;
            ASSERT_EQ(it->second.record->tag, 0);
        }
    }

    void release_dynamic()
    {
        if (dynamic_.empty()) {
            ASSERT_EQ(object_release(list_, number_of(&dynamic_)), 0);
            return;
        }
        size_t index = pick(static_cast<uint32_t>(dynamic_.size()));
        ASSERT_EQ(object_release(list_, number_of(dynamic_[index].record)), 1);
        dynamic_.erase(dynamic_.begin() + static_cast<std::ptrdiff_t>(index));
    }

    void check_get()
    {
        if (!dynamic_.empty() && pick(2)) {
            ModelObject& object = dynamic_[pick(static_cast<uint32_t>(dynamic_.size()))];
            void* expected = object.handle ? object.record : nullptr;
            ASSERT_EQ(object_get(list_, number_of(object.record)), expected);
            return;
        }
        int32_t number = pick_number();
        auto it = numbered_.find(number);
        void* expected = it != numbered_.end() && it->second.handle ? it->second.record : nullptr;
        ASSERT_EQ(object_get(list_, number), expected) << "number " << number;
    }

    void refill_some_record()
    {
        if (!numbered_.empty() && pick(2)) {
            auto it = numbered_.begin();
            std::advance(it, pick(static_cast<uint32_t>(numbered_.size())));
            fill(it->second);
        } else if (!dynamic_.empty()) {
            fill(dynamic_[pick(static_cast<uint32_t>(dynamic_.size()))]);
        }
    }

    // A refused block never half-creates anything.
    void refused_creation()
    {
        int32_t number = pick(3) == 0 ? ANY_NUMBER : pick_number();
        bool needs_block = number == ANY_NUMBER || !numbered_.count(number);
        if (!needs_block)
            return;
        DynamicNode* head = list_->dynamic_head;
        heap_fail_next(1);
        void* record = object_alloc(list_, number);
        heap_fail_next(0);
        ASSERT_EQ(record, nullptr) << "number " << number;
        ASSERT_EQ(list_->capacity, capacity_);
        ASSERT_EQ(list_->dynamic_head, head);
        if (number >= 0 && number < capacity_) {
            ASSERT_EQ(list_->slots[number], nullptr);
        }
    }

    std::mt19937 random_;
    int32_t step_;
    int32_t capacity_;
    ObjectList* list_;
    std::map<int32_t, ModelObject> numbered_;
    std::vector<ModelObject> dynamic_;  // oldest first
};

}  // namespace

TEST_F(MainHeapTest, ObjectListFollowsTheModelThroughLongRandomSequences)
{
    struct Case {
        uint32_t seed;
        int32_t step;
    };
    const Case cases[] = {{1, 1}, {2, 16}, {3, 50}, {4, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "seed " << c.seed << ", step " << c.step);
        ObjectListModel model(c.seed, c.step);
        ASSERT_NE(model.list(), nullptr);
        for (int i = 0; i < 20000; ++i) {
            model.step();
            if (::testing::Test::HasFatalFailure())
                FAIL() << "at operation " << i;
        }
        model.check_walk();
        model.free_everything();
    }
}
