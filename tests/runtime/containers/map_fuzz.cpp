// Two maps driven by fuzzer-chosen operations on fuzzer-chosen keys (any
// UTF-16 units, folded or not), checked after each against a model: per
// key, the values' ids oldest first.
#include "runtime/containers/containers.h"
#include "runtime/objects/objects.h"
#include "runtime/strings/strings.h"
#include "tests/fuzz_input.h"

#include <cstdlib>
#include <map>
#include <vector>

namespace {

using Model = std::map<std::u16string, std::vector<int32_t>>;

const std::u16string_view KEY_ALPHABET = u"aAbBzZ@[\u00E9\u00C9";

void check(bool holds)
{
    if (!holds)
        std::abort();
}

size_t model_size(const Model& model)
{
    size_t size = 0;
    for (const auto& entry : model)
        size += entry.second.size();
    return size;
}

int32_t& id_of(void* value) { return *static_cast<int32_t*>(value); }

struct Run {
    FuzzInput& in;
    bool fold;
    StringMap* maps[2] = {};
    Model models[2];
    int32_t next_id = 1;

    std::u16string model_key(std::u16string key) const
    {
        if (fold)
            for (char16_t& unit : key)
                if (unit >= u'A' && unit <= u'Z')
                    unit = static_cast<char16_t>(unit + 32);
        return key;
    }

    void create(int which)
    {
        map_create(8, 0, nullptr, &maps[which], static_cast<int32_t>(in.below(70)) - 2);
        check(maps[which] != nullptr);
        if (fold)
            maps[which]->flags |= MAP_CASE_INSENSITIVE;
        models[which].clear();
    }

    void insert(int which)
    {
        const bool reuse = in.flag();
        const std::u16string key = in.units(5, KEY_ALPHABET);
        void* value = map_insert(maps[which], key.c_str(), reuse);
        check(value && id_of(value) == 0);
        id_of(value) = next_id;
        std::vector<int32_t>& ids = models[which][model_key(key)];
        if (reuse && !ids.empty())
            ids.back() = next_id;
        else
            ids.push_back(next_id);
        ++next_id;
    }

    void find(int which)
    {
        const bool then_delete = in.flag();
        const std::u16string key = in.units(5, KEY_ALPHABET);
        void* value = map_find(maps[which], key.c_str());
        std::vector<int32_t>& ids = models[which][model_key(key)];
        check(ids.empty() ? value == nullptr : value && id_of(value) == ids.back());
        if (value && then_delete) {
            map_delete_current(maps[which]);
            ids.pop_back();
        }
    }

    // One pass deleting the visited elements the input picks; equal keys are
    // visited newest first.
    void iterate(int which)
    {
        Model visited;
        std::map<std::u16string, std::vector<size_t>> deleted;
        StringMap* map = maps[which];
        map_reset(map);
        while (void* value = map_next(map)) {
            const std::u16string key = model_key(map->current->key.text);
            std::vector<int32_t>& seen = visited[key];
            seen.push_back(id_of(value));
            if (in.flag()) {
                deleted[key].push_back(models[which][key].size() - seen.size());
                map_delete_current(map);
            }
        }
        check(map_next(map) == nullptr);
        for (auto& [key, ids] : models[which]) {
            check(visited[key] == std::vector<int32_t>(ids.rbegin(), ids.rend()));
            for (size_t index : deleted[key])
                ids.erase(ids.begin() + static_cast<ptrdiff_t>(index));
        }
    }

    void copy(int from)
    {
        // Repeated copies double a map; clearing keeps it small.
        const bool clear_first =
            in.flag() || model_size(models[0]) + model_size(models[1]) > 500;
        check(map_copy(maps[from], maps[1 - from], clear_first) == 1);
        if (clear_first)
            models[1 - from].clear();
        for (const auto& [key, ids] : models[from]) {
            std::vector<int32_t>& into = models[1 - from][key];
            into.insert(into.end(), ids.begin(), ids.end());
        }
    }

    void step()
    {
        const int which = in.flag();
        switch (in.below(8)) {
        case 0: case 1: case 2: insert(which); break;
        case 3: case 4: find(which); break;
        case 5: iterate(which); break;
        case 6: copy(which); break;
        default:
            if (in.flag()) {
                map_clear(maps[which]);
                models[which].clear();
            } else {
                create(which);
            }
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool started = (main_heap = heap_create(), string_area_init(),
                                 container_ops_register_map(), true);
    (void)started;
    FuzzInput in(data, size);
    Run run{in, in.flag(), {}, {}};
    run.create(0);
    run.create(1);
    for (int steps = 0; steps < 64 && (steps < 2 || !in.exhausted()); ++steps)
        run.step();
    for (int which = 0; which < 2; ++which) {
        check(static_cast<size_t>(run.maps[which]->element_count) ==
              model_size(run.models[which]));
        map_free(run.maps[which]);
        check(run.maps[which] == nullptr);
    }
    return 0;
}
