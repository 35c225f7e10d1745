// The out-of-memory sweep shared by the exhaustion tests: a scenario runs
// once for every allocation it makes, with that allocation refused alone and
// then with every allocation from it on refused.
#pragma once

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

// Runs `scenario` with heap_fail_range(n, count) armed for n = 1, 2, ...
// until a run ends without reaching allocation n; the scenario checks its
// own outcome. Stops at the first run that failed a check. Returns the
// number of failure points covered.
template <typename Scenario>
uint32_t sweep_failure_points(uint32_t count, Scenario scenario)
{
    for (uint32_t n = 1;; ++n) {
        SCOPED_TRACE(testing::Message() << "allocation " << n << " refused"
                                        << (count == 1 ? " alone" : " and every one after it"));
        heap_fail_range(n, count);
        scenario();
        const bool reached = heap_allocations() >= n;
        heap_fail_next(0);
        if (!reached || testing::Test::HasFailure())
            return n - 1;
    }
}

// Both sweeps of one scenario, with the number of failure points printed.
template <typename Scenario>
void sweep_both_ways(const char* name, Scenario scenario)
{
    const uint32_t alone = sweep_failure_points(1, scenario);
    const uint32_t from_then_on = sweep_failure_points(HEAP_FAIL_REST, scenario);
    std::printf("%s: %u failure points refused alone, %u with every allocation after them\n",
                name, alone, from_then_on);
    EXPECT_GT(alone, 0u);
}
